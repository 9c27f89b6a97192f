// Time to read a 5,000-company NovaGIA export, to load it into the import grid, and to import it
// against the sandbox server; and what the certificate store costs.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "gui/registry/certificadodigital.h"
#include "gui/registry/importarempresas.h"
#include "registry/certificates.h"
#include "registry/localdb.h"
#include "registry/taxpayerstore.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/testcerts.h"
#include "support/testenv.h"

#include "../benchhelp.h"

namespace {
double ms(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }
}  // namespace

int main(int argc, char** argv) {
  if (BenchHelp(argc, argv,
                "Uso: QT_QPA_PLATFORM=offscreen bench_import [EMPRESAS]\n"
                "Mede a leitura de uma exportação NovaGIA de 5000 empresas, a carga na grade e a importação de\n"
                "EMPRESAS delas (padrão 5000) contra o zide-sandbox, mais a listagem dos certificados e um PKCS#12.\n"))
    return 0;
  QApplication app(argc, argv);
  const QString file = QStringLiteral(BENCH_DATA "/novagia_5000.mdb");
  const int toImport = argc > 1 ? std::atoi(argv[1]) : 5000;
  TestAppFolder folder;
  QTemporaryDir store;
  qputenv("ZIDE_CERTIFICADOS", store.path().toLocal8Bit());
  Recorder rec;

  QElapsedTimer t;
  double readBest = 1e9;
  QList<EmpresaNovaGIA> empresas;
  for (int run = 0; run < 5; ++run) {
    t.start();
    empresas = LerExportacaoNovaGIA(file);
    readBest = std::min(readBest, ms(t));
  }

  ImportarEmpresas* w = Forms::get<ImportarEmpresas>();
  w->show();
  w->Text1()->setText(file);
  double loadBest = 1e9;
  for (int run = 0; run < 3; ++run) {
    t.restart();
    w->Command3_Click();
    QApplication::processEvents();
    loadBest = std::min(loadBest, ms(t));
  }
  const int gridRows = w->MSFlexGrid1()->rowCount();

  // The sandbox knows the companies to import (written into its data file beforehand, in one go).
  const int known = std::min<int>(toImport, static_cast<int>(empresas.size()));
  QTemporaryDir sandboxDir;
  const QString sandboxData = sandboxDir.filePath(QStringLiteral("sandbox.db"));
  {
    DbConnection db(sandboxData, true,
                    QStringLiteral("CREATE TABLE contribuinte (ie TEXT PRIMARY KEY, chave TEXT NOT NULL, "
                                   "cnpj TEXT NOT NULL, simples INTEGER NOT NULL DEFAULT 0)"));
    db.db().transaction();
    for (int i = 0; i < known; ++i) {
      QString cnpj = empresas[i].cnpj;
      cnpj.remove(QRegularExpression(QStringLiteral("[^0-9]")));
      db.exec(QStringLiteral("insert into contribuinte (ie, chave, cnpj, simples) values (?, ?, ?, 0)"),
              {empresas[i].ie, QStringLiteral("K%1").arg(i, 7, 10, QLatin1Char('0')), cnpj});
    }
    db.db().commit();
  }
  t.restart();
  SandboxServer server({}, sandboxData);
  const double sandboxStart = ms(t);
  if (!server.isRunning()) {
    std::fprintf(stderr, "%s\n", qPrintable(server.log()));
    return 1;
  }
  folder.writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));

  // A few hundred certificates in the store, one of them the import's.
  const TestCert cert = MakeTestCert({QStringLiteral("ESCRITORIO:11444777000161")});
  QTemporaryDir work;
  const QString pfx = work.filePath("a1.pfx");
  {
    QFile f(pfx);
    f.open(QIODevice::WriteOnly);
    f.write(MakePkcs12(cert, QStringLiteral("1234"), true));
  }
  t.restart();
  const bool added =
      CertificateStore::importFile(pfx, QStringLiteral("1234")).status == CertificateStore::ImportStatus::Added;
  const double pkcs12Ms = ms(t);
  for (int i = 0; i < 299; ++i) {
    QFile f(store.filePath(QStringLiteral("c%1.cer").arg(i)));
    f.open(QIODevice::WriteOnly);
    f.write(MakeTestCert({QStringLiteral("EMPRESA %1:11444777000161").arg(i)}).der);
  }
  t.restart();
  const int listed = static_cast<int>(CertificateStore::open().size());
  const double listMs = ms(t);

  // The two halves of the import on their own: the key requests, and the look-up plus insert.
  const int sample = std::min(500, known);
  t.restart();
  for (int i = 0; i < sample; ++i) {
    QString reply;
    PedirChave(empresas[i].ie, empresas[i].cnpj, &reply);
  }
  const double requestMs = ms(t) / std::max(1, sample);
  {
    QTemporaryDir other;
    DbConnection db(other.filePath(QStringLiteral("diziz.db")), true, LocalDatabase::schema());
    t.restart();
    for (int i = 0; i < sample; ++i) {
      // The statements the import runs: the look-up, then the insert.
      TaxpayerStore::exists(db, empresas[i].ie);
      TaxpayerStore::insert(db, {empresas[i].ie, QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"),
                                 QStringLiteral("k"), QString(), false});
    }
  }
  const double insertMs = ms(t) / std::max(1, sample);

  rec.certificates.enqueue(cert.der);
  t.restart();
  w->Command1_Click();
  const double importMs = ms(t);
  int stored = 0;
  {
    LocalDatabase::Connection db;
    stored = TaxpayerStore::count(db);
  }

  std::printf("empresas no arquivo: %lld (na grade: %d)\n", static_cast<long long>(empresas.size()), gridRows);
  std::printf("leitura do arquivo (melhor de 5): %.1f ms\n", readBest);
  std::printf("carregar dados na grade (melhor de 3): %.1f ms\n", loadBest);
  std::printf("zide-sandbox iniciado com %d contribuintes: %.0f ms\n", known, sandboxStart);
  std::printf("PKCS#12 legado importado: %.1f ms; repositório de %d certificados listado: %.1f ms\n", pkcs12Ms, listed,
              listMs);
  std::printf("importação: %d gravadas de %lld em %.0f ms (%.2f ms por empresa)\n", stored,
              static_cast<long long>(empresas.size()), importMs, importMs / std::max<qsizetype>(1, empresas.size()));
  std::printf("por empresa, isoladamente: pedido da chave %.2f ms, consulta e gravação %.2f ms\n", requestMs, insertMs);
  return (added && gridRows == empresas.size() && stored == known) ? 0 : 1;
}
