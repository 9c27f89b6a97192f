#include "gui/widgets/interaction.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QTreeView>

#include "gui/registry/certificatedialog.h"

namespace {
// The file list writes its dates in the system's language, which on a machine set to C or English
// is not the program's.
class PortugueseDates final : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::DisplayRole && index.column() == 3)
      if (const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel()))
        return QLocale(QLocale::Portuguese, QLocale::Brazil)
            .toString(files->lastModified(mapToSource(index)), QLocale::ShortFormat);
    return QIdentityProxyModel::data(index, role);
  }
};

class DesktopInteraction final : public Interaction {
 public:
  QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                      const QString& text, QMessageBox::StandardButtons buttons,
                                      QMessageBox::StandardButton defaultButton) override {
    QMessageBox box(icon, title, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    // Addresses and error texts can be copied out of any message.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return static_cast<QMessageBox::StandardButton>(box.exec());
  }
  void detailedMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                       const QString& details) override {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (!details.isEmpty()) box.setDetailedText(details);
    box.exec();
  }
  QString openFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) override {
    QFileDialog dialog(parent, caption, dir, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    ShowDatesInPortuguese(&dialog);
    FitFileDialogColumns(&dialog);
    if (dialog.exec() != QDialog::Accepted) return QString();
    return dialog.selectedFiles().value(0);
  }
  QString saveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                       const QString& filter) override {
    QFileDialog dialog(parent, caption, suggested, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    FitFileDialogColumns(&dialog);
    if (dialog.exec() != QDialog::Accepted) return QString();
    return dialog.selectedFiles().value(0);
  }
  std::optional<QString> password(QWidget* parent, const QString& title, const QString& prompt) override {
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextEchoMode(QLineEdit::Password);
    // Wide enough for the whole title in the window's frame, which is sized by the prompt otherwise
    // (the dialog's layout fixes its size from its children).
    if (auto* edit = dialog.findChild<QLineEdit*>())
      edit->setMinimumWidth(dialog.fontMetrics().horizontalAdvance(title) * 2 + 80);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.textValue();
  }
  bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
  std::optional<QByteArray> selectCertificate(QWidget* parent, const QString& title, const QString& prompt) override {
    return CertificateDialog::choose(parent, title, prompt);
  }
};

DesktopInteraction g_desktop;
Interaction* g_current = &g_desktop;
}  // namespace

Interaction& Interaction::current() { return *g_current; }

void Interaction::install(Interaction* replacement) { g_current = replacement ? replacement : &g_desktop; }

void MsgBoxDetails(QWidget* parent, const QString& text, const QString& details, QMessageBox::Icon icon,
                   const QString& title) {
  Interaction::current().detailedMessage(parent, icon, title, text, details);
}

QMessageBox::StandardButton MsgBox(QWidget* parent, const QString& text, QMessageBox::Icon icon, const QString& title,
                                   QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
  return Interaction::current().message(parent, icon, title, text, buttons, defaultButton);
}

void FitFileDialogColumns(QFileDialog* dialog) {
  for (QTreeView* view : dialog->findChildren<QTreeView*>()) {
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    for (int i = 1; i < header->count(); ++i) header->setSectionResizeMode(i, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
  }
}

void ShowDatesInPortuguese(QFileDialog* dialog) { dialog->setProxyModel(new PortugueseDates(dialog)); }
