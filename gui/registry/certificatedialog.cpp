#include "gui/registry/certificatedialog.h"

#include <QColor>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <thread>

#include "gui/widgets/interaction.h"
#include "registry/certsources.h"

namespace {
enum Column { kTitular, kDocumento, kEmissor, kValidoDe, kValidoAte, kOrigem };

QString documentText(const QString& digits) {
  if (digits.size() == 14)
    return QStringLiteral("%1.%2.%3/%4-%5")
        .arg(digits.left(2), digits.mid(2, 3), digits.mid(5, 3), digits.mid(8, 4), digits.mid(12));
  if (digits.size() == 11)
    return QStringLiteral("%1.%2.%3-%4").arg(digits.left(3), digits.mid(3, 3), digits.mid(6, 3), digits.mid(9));
  return digits;
}

QString sourceText(const CertificateInfo& c) {
  if (c.origin == CertificateOrigin::Pasta) return OriginCaption(c.origin);
  QString where = c.source;
  const QString home = QDir::homePath();
  if (where.startsWith(home + QLatin1Char('/'))) where = QStringLiteral("~") + where.mid(home.size());
  return OriginCaption(c.origin) + QStringLiteral(": ") + where;
}
}  // namespace

CertificateDialog::CertificateDialog(QWidget* parent, const QString& title, const QString& prompt) : QDialog(parent) {
  setObjectName(QStringLiteral("CertificateDialog"));
  setWindowTitle(title);
  auto* lay = new QVBoxLayout(this);
  auto* label = new QLabel(prompt, this);
  label->setObjectName(QStringLiteral("lblPrompt"));
  label->setWordWrap(true);
  lay->addWidget(label);

  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("lstCertificados"));
  tree_->setHeaderLabels({QStringLiteral("Emitido para"), QStringLiteral("CNPJ/CPF"), QStringLiteral("Emitido por"),
                          QStringLiteral("Válido de"), QStringLiteral("Válido até"), QStringLiteral("Origem")});
  tree_->setRootIsDecorated(false);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  lay->addWidget(tree_, 1);

  skippedLabel_ = new QLabel(QStringLiteral("Não foi possível ler:"), this);
  skippedLabel_->setObjectName(QStringLiteral("lblIgnorados"));
  lay->addWidget(skippedLabel_);
  skippedList_ = new QListWidget(this);
  skippedList_->setObjectName(QStringLiteral("lstIgnorados"));
  skippedList_->setMaximumHeight(90);
  lay->addWidget(skippedList_);

  auto* buttons = new QHBoxLayout;
  auto* importButton = new QPushButton(QStringLiteral("Importar certificado..."), this);
  importButton->setObjectName(QStringLiteral("cmdImportar"));
  buttons->addWidget(importButton);
  buttons->addStretch();
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = box->button(QDialogButtonBox::Ok);
  ok_->setText(QStringLiteral("OK"));
  box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
  buttons->addWidget(box);
  lay->addLayout(buttons);

  connect(importButton, &QPushButton::clicked, this, &CertificateDialog::importar);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { ok_->setEnabled(!selectedDer().isEmpty()); });
  resize(900, 380);
  reload();
}

bool CertificateDialog::reload() {
  tree_->clear();
  skippedList_->clear();
  const CertificateListing all = CertificateSources::listAll();
  list_ = all.certificates;
  skipped_ = all.skipped;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (int i = 0; i < list_.size(); ++i) {
    const CertificateInfo& c = list_[i];
    const bool expired = c.validTo < now;
    QString until = c.validTo.toLocalTime().toString(QStringLiteral("dd/MM/yyyy"));
    if (expired) until += QStringLiteral(" (vencido)");
    auto* item = new QTreeWidgetItem(
        tree_, {c.owner, documentText(c.document), c.issuedBy,
                c.validFrom.toLocalTime().toString(QStringLiteral("dd/MM/yyyy")), until, sourceText(c)});
    item->setData(0, Qt::UserRole, i);
    item->setToolTip(kTitular, c.issuedTo);
    item->setToolTip(kOrigem, c.fileName.isEmpty() ? c.source : c.fileName);
    if (expired)
      for (int col = 0; col < tree_->columnCount(); ++col) item->setForeground(col, QColor(160, 0, 0));
  }
  for (const SkippedSource& s : skipped_)
    skippedList_->addItem(OriginCaption(s.origin) + QStringLiteral(" — ") + s.where + QStringLiteral(": ") + s.reason);
  skippedLabel_->setVisible(!skipped_.isEmpty());
  skippedList_->setVisible(!skipped_.isEmpty());
  // Sized now, from the rows just added: a resize left to the view's delayed layout could size a
  // column by its title alone and cut a date short ("07/12/202…").
  for (int col = 0; col < tree_->columnCount(); ++col) tree_->resizeColumnToContents(col);
  if (tree_->topLevelItemCount() > 0) tree_->setCurrentItem(tree_->topLevelItem(0));
  ok_->setEnabled(!selectedDer().isEmpty());
  return true;
}

void CertificateDialog::select(const QString& thumbprint) {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = tree_->topLevelItem(i);
    if (list_[item->data(0, Qt::UserRole).toInt()].thumbprint == thumbprint) tree_->setCurrentItem(item);
  }
}

QByteArray CertificateDialog::selectedDer() const {
  const QTreeWidgetItem* item = tree_->currentItem();
  if (!item || !item->isSelected()) return {};
  const int i = item->data(0, Qt::UserRole).toInt();
  return i >= 0 && i < list_.size() ? list_[i].der : QByteArray();
}

void CertificateDialog::importar() {
  const QString path = Interaction::current().openFileName(
      this, QStringLiteral("Importar certificado"), QString(),
      QStringLiteral("Certificados A1 (*.pfx *.p12 *.pem *.cer *.crt *.der);;Todos os arquivos (*)"));
  if (path.isEmpty()) return;
  QString password;
  if (CertificateStore::isPkcs12(path)) {
    const std::optional<QString> typed = Interaction::current().password(
        this, QStringLiteral("Importar certificado"), QStringLiteral("Senha do arquivo do certificado:"));
    if (!typed) return;
    password = *typed;
  }
  // Opening an A1 file takes seconds on a slow machine: off the window's thread, the dialog
  // disabled meanwhile, so the window still repaints and answers.
  CertificateStore::ImportResult r{CertificateStore::ImportStatus::Unreadable, {}, {}};
  {
    QEventLoop wait;
    setEnabled(false);
    std::thread worker([&] {
      r = CertificateStore::importFile(path, password);
      QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec();
    worker.join();
    setEnabled(true);
  }
  password.fill(QLatin1Char('\0'));
  switch (r.status) {
    case CertificateStore::ImportStatus::Added:
      if (reload()) select(r.certificate.thumbprint);
      break;
    case CertificateStore::ImportStatus::WrongPassword:
      MsgBox(this,
             QStringLiteral("Senha incorreta: o arquivo do certificado não pôde ser aberto. "
                            "Nenhum certificado foi importado."),
             QMessageBox::Critical, kMsgTitle);
      break;
    case CertificateStore::ImportStatus::Unreadable: MsgBox(this, ComponentFailureText()); break;
    case CertificateStore::ImportStatus::Refused: MsgBox(this, r.detail, QMessageBox::Critical, kMsgTitle); break;
  }
}

std::optional<QByteArray> CertificateDialog::choose(QWidget* parent, const QString& title, const QString& prompt) {
  CertificateDialog dialog(parent, title, prompt);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QByteArray der = dialog.selectedDer();
  if (der.isEmpty()) return std::nullopt;
  return der;
}
