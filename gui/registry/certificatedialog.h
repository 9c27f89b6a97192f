#pragma once
#include <QByteArray>
#include <QDialog>
#include <QList>
#include <optional>

#include "registry/certificates.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;

// The certificate selection dialog: the certificates of every source (the program's folder, tokens,
// browsers) with the holder, the document, the issuer, the validity and the source; below them the
// files and sources that could not be read and why; and a button that brings an A1 file into the
// program's folder.
class CertificateDialog : public QDialog {
  Q_OBJECT
 public:
  CertificateDialog(QWidget* parent, const QString& title, const QString& prompt);

  // Shows the dialog modally; the chosen certificate's DER, or nullopt when cancelled.
  static std::optional<QByteArray> choose(QWidget* parent, const QString& title, const QString& prompt);

  // Re-reads every source. Sources that fail are listed as skipped; always true.
  bool reload();
  // "Importar certificado...": file choice, password for PKCS#12, then into the store.
  void importar();
  // The DER of the highlighted certificate; empty when none.
  QByteArray selectedDer() const;
  const QList<CertificateInfo>& certificates() const { return list_; }
  const QList<SkippedSource>& skipped() const { return skipped_; }

 private:
  void select(const QString& thumbprint);
  QTreeWidget* tree_;
  QLabel* skippedLabel_;
  QListWidget* skippedList_;
  QPushButton* ok_;
  QList<CertificateInfo> list_;
  QList<SkippedSource> skipped_;
};
