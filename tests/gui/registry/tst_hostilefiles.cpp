#include <QtTest>

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <memory>

#include "base/processrunner.h"
#include "base/sanitizer.h"
#include "gui/registry/importarempresas.h"
#include "gui/registry/migrationoffer.h"
#include "gui/widgets/forms.h"
#include "registry/importaccess.h"
#include "registry/localdb.h"
#include "registry/migration.h"
#include "support/formdriver.h"
#include "support/recorder.h"
#include "support/testenv.h"

// Damaged and malicious Access files (each once crashed, froze or overread the program in-process)
// through the company import and the migration: the invalid-file message, a window that still
// works, and a registry left byte for byte as it was. Plus the helper's output format and the
// limits the helper runs under.
namespace {
using FormDriver::settle;

const QString kInvalid =
    QStringLiteral("Erro: Arquivo inválido, você deve selecionar um arquivo conforme o manual indicar");

QByteArray bytesOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// "Max address space" and "Max cpu time" soft limits, as a child sees them in /proc/self/limits.
QString limitLine(const QByteArray& limits, const char* name) {
  for (const QByteArray& line : limits.split('\n'))
    if (line.startsWith(name)) return QString::fromLatin1(line.mid(26).simplified().split(' ').value(0));
  return QString();
}

constexpr bool kAsan = ZIDE_ASAN;
}  // namespace

class TstHostileFiles : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void dumpFormat_data();
  void dumpFormat();
  void runnerLimits();
  void helperOnSoundFiles();
  void importRefusesHostileFile_data();
  void importRefusesHostileFile();
  void migrationRefusesHostileFile_data();
  void migrationRefusesHostileFile();

 private:
  // A registry with one company in it, closed: its bytes are what must not change.
  QByteArray registryWithOneCompany();
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<Recorder> rec_;
  AccessReader reader_;
};

void TstHostileFiles::initTestCase() {
  // The standard reader with a shorter clock, so the file that loops costs seconds, not twenty.
  reader_ = AccessReader::standard();
  reader_.limits.timeoutMs = 2500;
  QVERIFY2(QFileInfo(reader_.program).isExecutable(), qPrintable(reader_.program));
}

void TstHostileFiles::init() {
  app_ = std::make_unique<TestAppFolder>();
  rec_ = std::make_unique<Recorder>();
  InstallAccessReader(&reader_);
}

void TstHostileFiles::cleanup() {
  InstallAccessReader(nullptr);
  LocalDatabase::setFirstUseHook(nullptr);
  Forms::unloadAll();
  settle();
  rec_.reset();
  app_.reset();
}

QByteArray TstHostileFiles::registryWithOneCompany() {
  {
    LocalDatabase::Connection db;
    db.exec("insert into tblContribuinte (IE, RazaoSocial, Cnpj, Cnae, Chave) values (?, ?, ?, ?, ?)",
            {"0623079040081", "Já Cadastrada Ltda ", "11.444.777/0001-61", "4711-3/02", "AB12CD34"});
    db.exec("insert into tblContador (cont_cpf_cnpj) values ('123.456.789-09')");
  }
  return bytesOf(LocalDatabase::path());
}

void TstHostileFiles::dumpFormat_data() {
  QTest::addColumn<QByteArray>("dump");
  QTest::addColumn<int>("rows");      // -1: refused
  QTest::addColumn<QString>("last");  // the last value of the last row
  const QByteArray head = "zide-mdbread 1\nc2\n2:IE\n4:Nome\n";
  // clang-format off
  QTest::newRow("vazia")              << head + "f\n"                                  << 0  << QString();
  QTest::newRow("duas linhas")        << head + "r\n1:1\n2:ab\nr\n0:\n3:x\ny\nf\n"     << 2  << QStringLiteral("x\ny");
  QTest::newRow("estrutura no valor") << head + "r\n1:1\n7:\nr\n0:\nf\nf\n"            << 1  << QStringLiteral("\nr\n0:\nf");
  QTest::newRow("acentos")            << head + "r\n1:1\n8:Jos\xc3\xa9 \xc3\xa9\nf\n"  << 1  << QStringLiteral("José é");
  QTest::newRow("sem fim")            << head + "r\n1:1\n2:ab\n"                       << -1 << QString();
  QTest::newRow("linha incompleta")   << head + "r\n1:1\nf\n"                          << -1 << QString();
  QTest::newRow("valor cortado")      << head + "r\n1:1\n9:ab\nf\n"                    << -1 << QString();
  QTest::newRow("bytes depois do fim") << head + "f\nr\n"                              << -1 << QString();
  QTest::newRow("zeros à esquerda")   << head + "r\n01:1\n0:\nf\n"                     << -1 << QString();
  QTest::newRow("colunas demais")     << QByteArray("zide-mdbread 1\nc99999999999\nf\n") << -1 << QString();
  QTest::newRow("outro cabeçalho")    << QByteArray("zide-mdbread 2\nc0\nf\n")           << -1 << QString();
  QTest::newRow("nada")               << QByteArray()                                    << -1 << QString();
  // clang-format on
}

void TstHostileFiles::dumpFormat() {
  QFETCH(QByteArray, dump);
  QFETCH(int, rows);
  QFETCH(QString, last);
  if (rows < 0) {
    QVERIFY_THROWS_EXCEPTION(AccessError, ParseAccessDump(dump));
    return;
  }
  const AccessTable t = ParseAccessDump(dump);
  QCOMPARE(t.columns, QStringList({"IE", "Nome"}));
  QCOMPARE(t.rows.size(), rows);
  for (const QStringList& r : t.rows) QCOMPARE(r.size(), 2);
  if (rows > 0) QCOMPARE(t.rows.last().last(), last);
}

void TstHostileFiles::runnerLimits() {
  // The limits reach the child: address space and CPU time as it sees them.
  ProcessLimits l;
  l.timeoutMs = 5000;
  l.memoryBytes = 300ULL * 1024 * 1024;
  const ProcessResult seen = ProcessRunner::runLimited("/bin/cat", {"/proc/self/limits"}, l);
  QCOMPARE(seen.status, ProcessResult::Finished);
  QCOMPARE(limitLine(seen.output, "Max address space"), QString::number(300ULL * 1024 * 1024));
  QCOMPARE(limitLine(seen.output, "Max cpu time"), QStringLiteral("7"));

  // A child that writes without end is stopped at the output limit, one that never ends at the clock.
  ProcessLimits out;
  out.timeoutMs = 20000;
  out.outputBytes = 1 << 20;
  const ProcessResult flood = ProcessRunner::runLimited("/bin/cat", {"/dev/zero"}, out);
  QCOMPARE(flood.status, ProcessResult::Crashed);
  QVERIFY(flood.outputCut);
  QCOMPARE(flood.output.size(), qsizetype(1 << 20));

  ProcessLimits clock;
  clock.timeoutMs = 300;
  QCOMPARE(ProcessRunner::runLimited("/bin/sleep", {"30"}, clock).status, ProcessResult::TimedOut);
  QCOMPARE(ProcessRunner::runLimited(app_->file("nao-existe"), {}, clock).status, ProcessResult::FailedToStart);
}

void TstHostileFiles::helperOnSoundFiles() {
  // The helper's own exit codes come back as reasons, and a sound file passes whole.
  const AccessTable t = ReadAccessTable(testData("import/diziz_legado.mdb"), "tblContribuinte");
  QCOMPARE(t.rows.size(), 2);
  try {
    ReadAccessTable(testData("import/sem_tabela.mdb"), "tblContribuinte");
    QFAIL("a file without the table was read");
  } catch (const AccessError& e) {
    QVERIFY2(QString::fromUtf8(e.what()).contains("tblContribuinte não encontrada"), e.what());
  }
  if (kAsan) QSKIP("a helper built with AddressSanitizer runs without an address-space limit");
  // Under a limit too small for libmdb, the read fails instead of taking what it wants.
  AccessReader tight = reader_;
  tight.limits.memoryBytes = 4ULL * 1024 * 1024;
  InstallAccessReader(&tight);
  QVERIFY_THROWS_EXCEPTION(AccessError, ReadAccessTable(testData("import/novagia_3empresas.mdb"), "tblContribuinte"));
}

void TstHostileFiles::importRefusesHostileFile_data() {
  QTest::addColumn<QString>("file");
  for (const char* f : {"null_map.mdb", "hang.mdb", "overread_catalog.mdb", "overread2.mdb"})
    QTest::newRow(f) << testData(QStringLiteral("hostile/") + f);
}

void TstHostileFiles::importRefusesHostileFile() {
  QFETCH(QString, file);
  QVERIFY(QFileInfo::exists(file));
  const QByteArray before = registryWithOneCompany();
  QVERIFY(!before.isEmpty());

  auto* w = Forms::get<ImportarEmpresas>();
  w->show();
  rec_->files.enqueue(file);
  w->Command2_Click();
  w->Command3_Click();
  QCOMPARE(rec_->texts(), QStringList{kInvalid});
  QCOMPARE(rec_->messages[0].title, kMsgTitle);
  QVERIFY(!w->MSFlexGrid1()->isVisibleTo(w));
  // The import reads the file again and stops the same way, before any certificate or server.
  rec_->clear();
  w->Command1_Click();
  QCOMPARE(rec_->texts(), QStringList{kInvalid});
  QVERIFY(rec_->certificateDialogs.isEmpty());
  QCOMPARE(bytesOf(LocalDatabase::path()), before);

  // The same window goes on to load a sound file.
  QVERIFY(w->isVisible() && w->isEnabled());
  rec_->clear();
  w->Text1()->setText(testData("import/novagia_3empresas.mdb"));
  w->Command3_Click();
  QVERIFY(rec_->messages.isEmpty());
  QCOMPARE(w->MSFlexGrid1()->rowCount(), 3);
  QVERIFY(w->findChild<QPushButton*>("Command1")->isVisibleTo(w));
}

void TstHostileFiles::migrationRefusesHostileFile_data() { importRefusesHostileFile_data(); }

void TstHostileFiles::migrationRefusesHostileFile() {
  QFETCH(QString, file);
  // A registry that holds nothing yet, with the hostile file where the earlier installation's was.
  QVERIFY(QFile::copy(file, Migracao::arquivoAnterior()));
  { LocalDatabase::Connection db; }
  QVERIFY(Migracao::deveOferecer());  // its bookkeeping table exists from here on
  const QByteArray before = bytesOf(LocalDatabase::path());
  QVERIFY(!before.isEmpty());

  rec_->answers.enqueue(QMessageBox::Yes);
  Migracao::instalar();
  { LocalDatabase::Connection db; }
  QCOMPARE(rec_->messages.size(), 2);
  QCOMPARE(rec_->messages[1].icon, QMessageBox::Critical);
  QVERIFY(rec_->messages[1].text.startsWith("Não foi possível trazer o cadastro da instalação anterior (diziz.mdb):"));
  QCOMPARE(bytesOf(LocalDatabase::path()), before);
  // Still offered at the next start, and a sound file in its place comes over.
  QVERIFY(Migracao::deveOferecer());
  QFile::remove(Migracao::arquivoAnterior());
  QVERIFY(QFile::copy(testData("import/diziz_legado.mdb"), Migracao::arquivoAnterior()));
  rec_->clear();
  rec_->answers.enqueue(QMessageBox::Yes);
  Migracao::instalar();
  { LocalDatabase::Connection db; }
  QCOMPARE(rec_->messages.size(), 2);
  QCOMPARE(rec_->messages[1].text,
           QStringLiteral("Cadastro da instalação anterior trazido: 1 contador e 2 contribuintes."));
}

QTEST_MAIN(TstHostileFiles)
#include "tst_hostilefiles.moc"
