#include <QtTest>

#include <QPushButton>
#include <QTreeWidget>
#include <memory>

#include "gui/registry/certificatedialog.h"
#include "registry/certificates.h"
#include "support/recorder.h"
#include "support/testcerts.h"
#include "support/testenv.h"

// The certificate list: its columns, the A1 import from it and the choice it hands back.
class TstCertificateDialog : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void dialogListsImportsAndChooses();

 private:
  QString write(const QString& name, const QByteArray& bytes);
  std::unique_ptr<CertStoreFolder> store_;
  std::unique_ptr<QTemporaryDir> work_;
};

void TstCertificateDialog::init() {
  store_ = std::make_unique<CertStoreFolder>();
  work_ = std::make_unique<QTemporaryDir>();
}

void TstCertificateDialog::cleanup() {
  store_.reset();
  work_.reset();
}

QString TstCertificateDialog::write(const QString& name, const QByteArray& bytes) {
  const QString path = work_->filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
  f.write(bytes);
  return path;
}

void TstCertificateDialog::dialogListsImportsAndChooses() {
  Recorder rec;
  TestCertSpec spec{QStringLiteral("EMPRESA X:12345678000195")};
  spec.issuerName = QStringLiteral("AC SERASA TESTE");
  spec.notAfter = QDateTime(QDate(2030, 1, 31), QTime(23, 0), Qt::UTC);
  const TestCert first = MakeTestCert(spec);
  QVERIFY(CertificateStore::importFile(write("x.cer", first.der)).status == CertificateStore::ImportStatus::Added);

  CertificateDialog dialog(nullptr, "Selecione o Certificado Digital (e-CNPJ)", "Escolha o certificado");
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Selecione o Certificado Digital (e-CNPJ)"));
  auto* tree = dialog.findChild<QTreeWidget*>("lstCertificados");
  QVERIFY(tree);
  QCOMPARE(tree->headerItem()->text(0), QStringLiteral("Emitido para"));
  QCOMPARE(tree->headerItem()->text(2), QStringLiteral("Emitido por"));
  QCOMPARE(tree->headerItem()->text(4), QStringLiteral("Válido até"));
  QCOMPARE(tree->topLevelItemCount(), 1);
  QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("EMPRESA X"));
  QCOMPARE(tree->topLevelItem(0)->text(1), QStringLiteral("12.345.678/0001-95"));
  QCOMPARE(tree->topLevelItem(0)->text(2), spec.issuerName);
  QCOMPARE(tree->topLevelItem(0)->text(4), spec.notAfter.toLocalTime().toString("dd/MM/yyyy"));
  auto* importButton = dialog.findChild<QPushButton*>("cmdImportar");
  QVERIFY(importButton);
  QCOMPARE(importButton->text(), QStringLiteral("Importar certificado..."));

  // A legacy PKCS#12 with a wrong password first: a message, nothing added.
  const TestCert second = MakeTestCert({QStringLiteral("CONTADOR:31415926590")});
  const QString pfx = write("contador.pfx", MakePkcs12(second, "1234", true));
  rec.files.enqueue(pfx);
  rec.passwords.enqueue(QStringLiteral("4321"));
  importButton->click();
  QCOMPARE(rec.messages.size(), 1);
  QCOMPARE(rec.messages[0].icon, QMessageBox::Critical);
  QVERIFY(rec.messages[0].text.contains("Senha incorreta"));
  QCOMPARE(tree->topLevelItemCount(), 1);

  // Cancelling the password asks nothing more and adds nothing.
  rec.files.enqueue(pfx);
  rec.passwords.enqueue(std::nullopt);
  dialog.importar();
  QCOMPARE(rec.messages.size(), 1);
  QCOMPARE(tree->topLevelItemCount(), 1);

  // The right password: listed and highlighted, so OK chooses it.
  rec.files.enqueue(pfx);
  rec.passwords.enqueue(QStringLiteral("1234"));
  dialog.importar();
  QCOMPARE(rec.messages.size(), 1);
  QCOMPARE(tree->topLevelItemCount(), 2);
  QCOMPARE(dialog.selectedDer(), second.der);
  QCOMPARE(rec.passwordPrompts.size(), 3);

  // A file that is no certificate is the component failure.
  rec.files.enqueue(write("lixo.cer", "lixo"));
  dialog.importar();
  QCOMPARE(rec.messages.size(), 2);
  QCOMPARE(rec.messages[1].text, ComponentFailureText());
  QCOMPARE(tree->topLevelItemCount(), 2);

  tree->setCurrentItem(tree->topLevelItem(1));
  QCOMPARE(dialog.selectedDer(), first.der);  // "EMPRESA X" sorts after "CONTADOR"
  tree->clearSelection();
  QVERIFY(dialog.selectedDer().isEmpty());
}

QTEST_MAIN(TstCertificateDialog)
#include "tst_certificatedialog.moc"
