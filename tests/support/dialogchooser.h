#pragma once
#include <QTreeWidget>
#include <functional>
#include <optional>

#include "gui/registry/certificatedialog.h"
#include "registry/certificates.h"
#include "support/recorder.h"

// The person at the screen choosing in the real certificate dialog: the row `pick` accepts, after
// `whileOpen` has had its go (pulling a token out before OK, say).
class DialogChooser : public Recorder {
 public:
  std::function<bool(const CertificateInfo&)> pick;
  std::function<void(CertificateDialog&)> whileOpen;
  std::optional<QByteArray> selectCertificate(QWidget* parent, const QString& title, const QString& prompt) override {
    certificateDialogs.append({title, prompt});
    CertificateDialog dialog(parent, title, prompt);
    auto* tree = dialog.findChild<QTreeWidget*>(QStringLiteral("lstCertificados"));
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      if (pick(dialog.certificates()[tree->topLevelItem(i)->data(0, Qt::UserRole).toInt()]))
        tree->setCurrentItem(tree->topLevelItem(i));
    if (whileOpen) whileOpen(dialog);
    const QByteArray der = dialog.selectedDer();
    if (der.isEmpty()) return std::nullopt;
    return der;
  }
};
