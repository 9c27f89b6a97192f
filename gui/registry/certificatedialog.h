#pragma once
#include <QByteArray>
#include <QDialog>
#include <QList>
#include <optional>

#include "registry/certificates.h"

class QLabel;
class QPushButton;
class QTreeWidget;

// The certificate selection dialog: the store's certificates with the name they were issued to, the
// issuer and the end of validity, and a button that brings an A1 file into the store.
class CertificateDialog : public QDialog {
  Q_OBJECT
 public:
  CertificateDialog(QWidget* parent, const QString& title, const QString& prompt);

  // Shows the dialog modally; the chosen certificate's DER, or nullopt when cancelled.
  static std::optional<QByteArray> choose(QWidget* parent, const QString& title, const QString& prompt);

  // Re-reads the store; false (and a message) when it cannot be read.
  bool reload();
  // "Importar certificado...": file choice, password for PKCS#12, then into the store.
  void importar();
  // The DER of the highlighted certificate; empty when none.
  QByteArray selectedDer() const;
  const QList<CertificateInfo>& certificates() const { return list_; }

 private:
  void select(const QString& thumbprint);
  QTreeWidget* tree_;
  QPushButton* ok_;
  QList<CertificateInfo> list_;
};
