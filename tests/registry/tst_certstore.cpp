#include <QtTest>

#include <memory>

#include "registry/certificates.h"
#include "support/testcerts.h"
#include "support/testenv.h"

// The certificate store folder, the A1 import and what OpenSSL reads from a certificate.
class TstCertStore : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void parsesDerAndPemAlike();
  void pkcs12ModernAndLegacyKeepOnlyTheCertificate();
  void pkcs12WrongPasswordAddsNothing();
  void pemWithKeyAndDerFilesAddOnlyTheCertificate();
  void sameCertificateTwiceIsOneFile();
  void unreadableFilesAreRefused();
  void storeListingAndItsFailures();
  void distributionPoints();

 private:
  QString write(const QString& name, const QByteArray& bytes);
  QStringList storeFiles() const;
  std::unique_ptr<CertStoreFolder> store_;
  std::unique_ptr<QTemporaryDir> work_;
};

void TstCertStore::init() {
  store_ = std::make_unique<CertStoreFolder>();
  work_ = std::make_unique<QTemporaryDir>();
}

void TstCertStore::cleanup() {
  store_.reset();
  work_.reset();
}

QString TstCertStore::write(const QString& name, const QByteArray& bytes) {
  const QString path = work_->filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
  f.write(bytes);
  return path;
}

QStringList TstCertStore::storeFiles() const { return QDir(store_->path()).entryList(QDir::Files, QDir::Name); }

void TstCertStore::parsesDerAndPemAlike() {
  TestCertSpec spec;
  spec.commonName = QStringLiteral("PADARIA SÃO JOSÉ LTDA:52601815000120");
  spec.issuerName = QStringLiteral("AC TESTE RFB");
  const TestCert c = MakeTestCert(spec);
  const auto fromDer = ParseCertificate(c.der);
  const auto fromPem = ParseCertificate(c.certPem);
  QVERIFY(fromDer && fromPem);
  QCOMPARE(fromPem->der, c.der);
  QCOMPARE(fromDer->issuedTo, spec.commonName);
  QCOMPARE(fromDer->issuedBy, QStringLiteral("AC TESTE RFB"));
  QCOMPARE(fromDer->validFrom, c.notBefore);
  QCOMPARE(fromDer->validTo, c.notAfter);
  QVERIFY(!fromDer->hasCdp);
  QCOMPARE(fromDer->thumbprint.size(), 40);
  QVERIFY(!ParseCertificate(QByteArray("not a certificate")));
  QVERIFY(!ParseCertificate(c.der.left(c.der.size() / 2)));
  QVERIFY(!ParseCertificate(c.keyPem));
}

void TstCertStore::pkcs12ModernAndLegacyKeepOnlyTheCertificate() {
  for (const bool legacy : {false, true}) {
    TestCertSpec spec;
    spec.commonName =
        legacy ? QStringLiteral("EMPRESA ANTIGA:11222333000181") : QStringLiteral("EMPRESA:11444777000161");
    const TestCert c = MakeTestCert(spec);
    const QString path = write(legacy ? "antigo.pfx" : "novo.P12", MakePkcs12(c, "s3nh@ é", legacy));
    QVERIFY(CertificateStore::isPkcs12(path));
    const CertificateStore::ImportResult r = CertificateStore::importFile(path, "s3nh@ é");
    QVERIFY2(r.status == CertificateStore::ImportStatus::Added, qPrintable(r.detail));
    QCOMPARE(r.certificate.der, c.der);
    QFile stored(r.certificate.fileName);
    QVERIFY(stored.open(QIODevice::ReadOnly));
    const QByteArray bytes = stored.readAll();
    // The store file is exactly the certificate: no key, no password.
    QCOMPARE(bytes, c.der);
    QVERIFY(!bytes.contains("s3nh@"));
  }
  QCOMPARE(storeFiles().size(), 2);

  // And one written by the openssl program itself with -legacy, as old A1 exports are.
  const TestCert c = MakeTestCert({QStringLiteral("EMPRESA CLI:11444777000161")});
  const QString cert = write("cli.pem", c.certPem), key = write("cli.key", c.keyPem);
  const QString out = work_->filePath("cli.pfx");
  QProcess openssl;
  openssl.start("openssl",
                {"pkcs12", "-export", "-legacy", "-in", cert, "-inkey", key, "-passout", "pass:abc", "-out", out});
  QVERIFY(openssl.waitForFinished(20000));
  QCOMPARE(openssl.exitCode(), 0);
  const CertificateStore::ImportResult r = CertificateStore::importFile(out, "abc");
  QVERIFY2(r.status == CertificateStore::ImportStatus::Added, qPrintable(r.detail));
  QCOMPARE(r.certificate.der, c.der);
}

void TstCertStore::pkcs12WrongPasswordAddsNothing() {
  const TestCert c = MakeTestCert({QStringLiteral("EMPRESA:11444777000161")});
  for (const bool legacy : {false, true}) {
    const QString path = write(legacy ? "a.pfx" : "b.pfx", MakePkcs12(c, "certa", legacy));
    QCOMPARE(CertificateStore::importFile(path, "errada").status, CertificateStore::ImportStatus::WrongPassword);
    QCOMPARE(CertificateStore::importFile(path, QString()).status, CertificateStore::ImportStatus::WrongPassword);
  }
  QVERIFY(storeFiles().isEmpty());
  // A PKCS#12 written without a password opens with an empty one.
  const QString open = write("aberto.p12", MakePkcs12(c, QString(), false));
  QCOMPARE(CertificateStore::importFile(open, QString()).status, CertificateStore::ImportStatus::Added);
}

void TstCertStore::pemWithKeyAndDerFilesAddOnlyTheCertificate() {
  const TestCert a = MakeTestCert({QStringLiteral("CONTADOR A:31415926590")});
  const TestCert b = MakeTestCert({QStringLiteral("EMPRESA B:11444777000161")});
  const QString pem = write("a.pem", a.keyPem + a.certPem);  // key first: it is skipped
  const QString der = write("b.cer", b.der);
  QCOMPARE(CertificateStore::importFile(pem).status, CertificateStore::ImportStatus::Added);
  QCOMPARE(CertificateStore::importFile(der).status, CertificateStore::ImportStatus::Added);
  const QStringList files = storeFiles();
  QCOMPARE(files.size(), 2);
  for (const QString& f : files) {
    QFile file(QDir(store_->path()).filePath(f));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes == a.der || bytes == b.der);
    QVERIFY(!bytes.contains("PRIVATE KEY"));
  }
}

void TstCertStore::sameCertificateTwiceIsOneFile() {
  const TestCert c = MakeTestCert({QStringLiteral("EMPRESA:11444777000161")});
  QCOMPARE(CertificateStore::importFile(write("c.der", c.der)).status, CertificateStore::ImportStatus::Added);
  QCOMPARE(CertificateStore::importFile(write("c.pem", c.certPem)).status, CertificateStore::ImportStatus::Added);
  QCOMPARE(CertificateStore::importFile(write("c.pfx", MakePkcs12(c, "x", false)), "x").status,
           CertificateStore::ImportStatus::Added);
  QCOMPARE(storeFiles().size(), 1);
  QCOMPARE(CertificateStore::open().size(), 1);
}

void TstCertStore::unreadableFilesAreRefused() {
  using CertificateStore::ImportStatus;
  QCOMPARE(CertificateStore::importFile(write("lixo.cer", "garbage")).status, ImportStatus::Unreadable);
  QCOMPARE(CertificateStore::importFile(write("lixo.pfx", "garbage"), "x").status, ImportStatus::Unreadable);
  const TestCert c = MakeTestCert({QStringLiteral("EMPRESA:11444777000161")});
  QCOMPARE(CertificateStore::importFile(write("meio.pfx", MakePkcs12(c, "x", false).left(200)), "x").status,
           ImportStatus::Unreadable);
  QCOMPARE(CertificateStore::importFile(work_->filePath("nao-existe.cer")).status, ImportStatus::Unreadable);
  QVERIFY(storeFiles().isEmpty());

  // A damaged copy whose end of validity is no longer a date: refused, so the store still opens.
  QByteArray der = c.der;
  const qsizetype notBefore = der.indexOf(QByteArray("\x17\x0d", 2));
  const qsizetype notAfter = der.indexOf(QByteArray("\x17\x0d", 2), notBefore + 2);
  QVERIFY(notBefore > 0 && notAfter > notBefore);
  der[notAfter + 2 + 7] = '#';
  QVERIFY(!ParseCertificate(der));
  QCOMPARE(CertificateStore::importFile(write("danificado.cer", der)).status, ImportStatus::Unreadable);
  const QByteArray pem = "-----BEGIN CERTIFICATE-----\n" + der.toBase64() + "\n-----END CERTIFICATE-----\n";
  QCOMPARE(CertificateStore::importFile(write("danificado.pem", pem)).status, ImportStatus::Unreadable);
  QVERIFY(storeFiles().isEmpty());
  QVERIFY(CertificateStore::open().isEmpty());
}

void TstCertStore::storeListingAndItsFailures() {
  TestCertSpec z{QStringLiteral("ZETA COMERCIO:11444777000161")};
  TestCertSpec a{QStringLiteral("ALFA SERVICOS:11222333000181")};
  a.notAfter = QDateTime(QDate(2031, 5, 17), QTime(12, 0), Qt::UTC);
  QVERIFY(CertificateStore::importFile(write("z.cer", MakeTestCert(z).der)).status ==
          CertificateStore::ImportStatus::Added);
  QVERIFY(CertificateStore::importFile(write("a.pem", MakeTestCert(a).certPem)).status ==
          CertificateStore::ImportStatus::Added);
  QList<CertificateInfo> list = CertificateStore::open();
  QCOMPARE(list.size(), 2);
  QCOMPARE(list[0].issuedTo, a.commonName);  // sorted by the name issued to
  QCOMPARE(list[1].issuedTo, z.commonName);
  QCOMPARE(list[0].validTo, a.notAfter);
  QVERIFY(list[0].fileName.startsWith(store_->path()));

  // A file in the store that is no certificate is left out and named; the others stay listed.
  QFile junk(store_->filePath("leia-me.txt"));
  QVERIFY(junk.open(QIODevice::WriteOnly));
  junk.write("isto não é um certificado");
  junk.close();
  const CertificateListing withJunk = CertificateStore::list();
  QCOMPARE(withJunk.certificates.size(), 2);
  QCOMPARE(withJunk.skipped.size(), 1);
  QCOMPARE(withJunk.skipped[0].where, junk.fileName());
  QVERIFY(junk.remove());

  // A folder named by ZIDE_CERTIFICADOS must exist (else it is a skipped source); the default one
  // is made on demand.
  qputenv("ZIDE_CERTIFICADOS", work_->filePath("nao-existe").toLocal8Bit());
  QVERIFY(CertificateStore::open().isEmpty());
  QCOMPARE(CertificateStore::list().skipped.size(), 1);
  QVERIFY(!QFileInfo::exists(work_->filePath("nao-existe")));
  QTemporaryDir home;
  qunsetenv("ZIDE_CERTIFICADOS");
  const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
  QVERIFY(CertificateStore::folder().startsWith(home.path()));
  QVERIFY(CertificateStore::open().isEmpty());
  QVERIFY(QFileInfo(CertificateStore::folder()).isDir());
  if (oldHome.isEmpty()) qunsetenv("XDG_DATA_HOME");
  else qputenv("XDG_DATA_HOME", oldHome);
}

void TstCertStore::distributionPoints() {
  QStringList urls;
  unsigned long code = 1;
  const TestCert none = MakeTestCert({QStringLiteral("SEM CDP:11444777000161")});
  QVERIFY(CdpUrls(none.der, &urls, &code));
  QVERIFY(urls.isEmpty());
  QCOMPARE(code, 0ul);

  TestCertSpec with{QStringLiteral("COM CDP:11444777000161")};
  with.cdpUrls = {QStringLiteral("http://127.0.0.1/lcr/ac1.crl"), QStringLiteral("http://127.0.0.1/lcr/ac2.crl")};
  const TestCert c = MakeTestCert(with);
  QVERIFY(ParseCertificate(c.der)->hasCdp);
  QVERIFY(CdpUrls(c.der, &urls, &code));
  QCOMPARE(urls, with.cdpUrls);

  TestCertSpec broken{QStringLiteral("CDP QUEBRADO:11444777000161")};
  broken.brokenCdp = true;
  const TestCert b = MakeTestCert(broken);
  QVERIFY(ParseCertificate(b.der)->hasCdp);
  QVERIFY(!CdpUrls(b.der, &urls, &code));
  QVERIFY(code != 0);
}

QTEST_MAIN(TstCertStore)
#include "tst_certstore.moc"
