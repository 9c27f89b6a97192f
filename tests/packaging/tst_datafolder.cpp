#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "access/jetwriter.h"
#include "base/appfolder.h"
#include "base/usersettings.h"
#include "registry/localdb.h"
#include "support/accessdb.h"
#include "support/intakesupport.h"
#include "support/testenv.h"
#include "transmission/intake.h"

namespace {

const QString kIe = "0011111110011";

QByteArray bytesOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions mode = {}) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) return false;
  f.close();
  return mode == QFile::Permissions() || f.setPermissions(mode);
}

// "path mode" for every file and folder under `root` (the root itself excluded), modes in octal.
QStringList modesUnder(const QString& root) {
  QStringList out;
  QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString p = it.next();
    struct stat st;
    if (::lstat(QFile::encodeName(p).constData(), &st) != 0) continue;
    out << QDir(root).relativeFilePath(p) + ' ' + QString::number(st.st_mode & 07777, 8);
  }
  out.sort();
  return out;
}

QStringList exportsIn(const QString& tempDir) { return QDir(tempDir).entryList({"export*"}, QDir::Files); }

}  // namespace

// The folder rules seen from an installed tree (a copy of a small program that prints them), and
// what the program leaves on disk after a declaration's intake.
class TstDataFolder : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void installedTree_data();
  void installedTree();
  void firstStartMakesAPrivateDataFolder();
  void intakeLeavesOnlyPrivateFilesAndNoExports();
  void helperInTheDataFolderIsNeverRun();
  void plantedLinksAreNeverFollowed();
  void diskFullOrLockedWhileLoading_data();
  void diskFullOrLockedWhileLoading();
  void failedCommitEndsTheLoad();

 private:
  struct Probe {
    QString dataFolder, versionFile, exportTool, prepared;
  };
  Probe runProbe(const QString& exe, const QProcessEnvironment& env, bool prepare = false);
  QProcessEnvironment userEnv() const;
  bool declaration(const QString& path, const QStringList& args);

  QTemporaryDir work_;
  QString root_;  // an unpacked installation: usr/bin, usr/lib/zide, usr/share/zide
  QString home_;
  QString gdb_;
};

void TstDataFolder::initTestCase() {
  // The lock folder of the export tool's engine, this test's own.
  qputenv("FIREBIRD_LOCK", work_.filePath("lock").toLocal8Bit());
  QVERIFY(QDir().mkpath(work_.filePath("lock")));
  root_ = work_.filePath("raiz");
  home_ = work_.filePath("casa");
  QVERIFY(QDir().mkpath(home_));
  const QString bin = root_ + "/usr/bin";
  QVERIFY(QDir().mkpath(bin));
  QVERIFY(QFile::copy(LAYOUTPROBE, bin + "/layoutprobe"));
  QVERIFY(writeFile(root_ + "/usr/share/zide/info.dip", "1.15.01"));
  QVERIFY(writeFile(root_ + "/usr/share/zide/diziz.ini", "[servidor]\nhost=servidor.exemplo\nport=8080\n"));
  QVERIFY(writeFile(root_ + "/usr/lib/zide/fbexport", "#!/bin/sh\n", QFile::ReadOwner | QFile::ExeOwner));
  gdb_ = work_.filePath("ZIDE.GDB");
  QVERIFY(declaration(gdb_, {"--company", kIe + ",11222333000181", "--references", "2", "--rows-each", "2"}));
}

bool TstDataFolder::declaration(const QString& path, const QStringList& args) {
  QProcess p;
  p.start(builtProgram("gdbfixture"), QStringList{path, "--quiet"} + args);
  if (!p.waitForFinished(120000) || p.exitCode() != 0) {
    qWarning("gdbfixture: %s", p.readAllStandardError().constData());
    return false;
  }
  return true;
}

QProcessEnvironment TstDataFolder::userEnv() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("ZIDE_HOME");
  env.remove("XDG_DATA_HOME");
  env.insert("HOME", home_);
  return env;
}

TstDataFolder::Probe TstDataFolder::runProbe(const QString& exe, const QProcessEnvironment& env, bool prepare) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(exe, prepare ? QStringList{"prepare"} : QStringList{});
  Probe r;
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return r;
  const QStringList lines = QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n');
  if (lines.size() < 3) return r;
  r.dataFolder = lines[0];
  r.versionFile = lines[1];
  r.exportTool = lines[2];
  r.prepared = lines.value(3);
  return r;
}

void TstDataFolder::installedTree_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("setup");
  QTest::addColumn<QString>("dataFolder");   // %HOME%, %ROOT%, %WORK%
  QTest::addColumn<QString>("versionFile");
  QTest::newRow("installed: the user's data folder")  << ""        << "%HOME%/.local/share/zide" << "%ROOT%/usr/share/zide/info.dip";
  QTest::newRow("XDG_DATA_HOME is followed")          << "xdg"     << "%WORK%/xdg/zide"          << "%ROOT%/usr/share/zide/info.dip";
  QTest::newRow("a copy run in place with diziz.ini") << "inplace" << "%ROOT%/usr/bin"           << "%ROOT%/usr/share/zide/info.dip";
  QTest::newRow("ZIDE_HOME wins, with its own files") << "home"    << "%WORK%/dados"             << "%WORK%/dados/info.dip";
  // clang-format on
}

// Wherever the data goes, the export tool is the installation's, never a program in the data folder.
void TstDataFolder::installedTree() {
  QFETCH(QString, setup);
  QFETCH(QString, dataFolder);
  QFETCH(QString, versionFile);
  auto expand = [this](QString s) {
    return s.replace("%HOME%", home_).replace("%ROOT%", root_).replace("%WORK%", work_.path());
  };
  QProcessEnvironment env = userEnv();
  const QString inPlace = root_ + "/usr/bin/diziz.ini";
  auto cleanup = qScopeGuard([&] { QFile::remove(inPlace); });
  if (setup == "xdg") env.insert("XDG_DATA_HOME", work_.filePath("xdg"));
  if (setup == "inplace") QVERIFY(writeFile(inPlace, "[servidor]\n"));
  if (setup == "home") {
    env.insert("ZIDE_HOME", work_.filePath("dados") + "/");
    QVERIFY(writeFile(work_.filePath("dados/info.dip"), "9.99.99"));
    QVERIFY(writeFile(work_.filePath("dados/fbexport"), "#!/bin/sh\n", QFile::ReadOwner | QFile::ExeOwner));
  }
  const Probe p = runProbe(root_ + "/usr/bin/layoutprobe", env);
  QCOMPARE(p.dataFolder, expand(dataFolder));
  QCOMPARE(p.versionFile, expand(versionFile));
  QCOMPARE(p.exportTool, root_ + "/usr/lib/zide/fbexport");
  // Looking is not creating: only the start-up set-up makes the folder.
  QVERIFY(!QFileInfo::exists(home_ + "/.local"));
}

void TstDataFolder::firstStartMakesAPrivateDataFolder() {
  QTemporaryDir home;
  QProcessEnvironment env = userEnv();
  env.insert("HOME", home.path());
  const QString exe = root_ + "/usr/bin/layoutprobe";
  const QStringList before = modesUnder(root_);
  const Probe p = runProbe(exe, env, true);
  QCOMPARE(p.prepared, QString("ok"));
  const QString data = home.path() + "/.local/share/zide";
  QCOMPARE(p.dataFolder, data);
  QCOMPARE(bytesOf(data + "/diziz.ini"), bytesOf(root_ + "/usr/share/zide/diziz.ini"));
  QCOMPARE(modesUnder(home.path()),
           (QStringList{".local 700", ".local/share 700", ".local/share/zide 700", ".local/share/zide/diziz.ini 600"}));
  QCOMPARE(modesUnder(root_), before);  // nothing written into the installation

  // The user's own settings survive the next start.
  QVERIFY(writeFile(data + "/diziz.ini", "[servidor]\nhost=meu.servidor\nport=9090\n"));
  QCOMPARE(runProbe(exe, env, true).prepared, QString("ok"));
  QCOMPARE(bytesOf(data + "/diziz.ini"), QByteArray("[servidor]\nhost=meu.servidor\nport=9090\n"));

  // A data folder that cannot be made is reported, not ignored.
  QVERIFY(writeFile(work_.filePath("arquivo"), "não é uma pasta"));
  env.insert("ZIDE_HOME", work_.filePath("arquivo") + "/zide");
  const QString refused = runProbe(exe, env, true).prepared;
  QVERIFY2(refused.startsWith("Não foi possível criar a pasta"), qPrintable(refused));
}

// After an intake (and a failed one) the data folder holds only files of the user's alone, and temp/
// no export file of the declaration.
void TstDataFolder::intakeLeavesOnlyPrivateFilesAndNoExports() {
  AppFolder::restrictNewFiles();
  QTemporaryDir parent;
  qputenv("ZIDE_HOME", (parent.path() + "/dados").toLocal8Bit());
  auto restore = qScopeGuard([] { qunsetenv("ZIDE_HOME"); });
  QVERIFY(AppFolder::prepare());
  { LocalDatabase::Connection db; }  // the local database, as the first window that needs it makes it

  Intake intake;
  const Intake::Result outcome = runIntake(intake, gdb_);
  QVERIFY2(outcome.ok(), qPrintable(outcome.error));
  QVERIFY(outcome.loadedStatements > 0);
  QCOMPARE(exportsIn(AppFolder::file("temp")), QStringList());

  // A table the list needs cannot be read: the intake stops part way, after other exports were written.
  ScriptedRunner runner;
  runner.answer = [](const QString& table) -> std::optional<ProcessResult> {
    if (table != "TAB03003") return std::nullopt;
    ProcessResult r;
    r.exitCode = 2;
    r.errorOutput = "fbexport: a tabela TAB03003 não pôde ser lida";
    return r;
  };
  QStringList modes = modesUnder(AppFolder::path());
  QVERIFY(modes.contains("zide.db 600"));
  QVERIFY(modes.contains("zide.mdb 600"));
  const Intake::Result failed = runIntake(intake, gdb_);
  QVERIFY2(failed.error.startsWith("Não foi possível ler a tabela TAB03003"), qPrintable(failed.error));
  QCOMPARE(exportsIn(AppFolder::file("temp")), QStringList());
  // A failed intake leaves neither working database, never one without the other.
  QVERIFY(!QFile::exists(AppFolder::file("zide.db")) && !QFile::exists(AppFolder::file("zide.mdb")));

  modes += modesUnder(AppFolder::path());
  QVERIFY(modes.contains("diziz.db 600"));
  for (const QString& m : modes) {
    const bool folder = QFileInfo(AppFolder::file(m.section(' ', 0, 0))).isDir();
    QVERIFY2(m.endsWith(folder ? " 700" : " 600"), qPrintable(m));
  }
  struct stat st;
  QVERIFY(::stat(QFile::encodeName(AppFolder::path()).constData(), &st) == 0);
  QCOMPARE(st.st_mode & 07777, 0700u);
}

void TstDataFolder::helperInTheDataFolderIsNeverRun() {
  TestAppFolder app;
  const QString marker = app.file("executado");
  QVERIFY(writeFile(app.file("fbexport"), "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\nexit 1\n",
                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  Intake intake;
  QCOMPARE(intake.settings().tool, QCoreApplication::applicationDirPath() + "/fbexport");
  const Intake::Result outcome = runIntake(intake, gdb_);
  QVERIFY2(outcome.ok(), qPrintable(outcome.error));
  QVERIFY(!QFile::exists(marker));
}

// Links planted where the program writes, pointing out of the data folder: the intake (and the
// settings the program writes) replace each link with a file of the user's alone; every target
// keeps its bytes and its mode. One intake for all of them: each costs a run of every export.
void TstDataFolder::plantedLinksAreNeverFollowed() {
  const QStringList names{"zide.mdb.parcial",    "zide.mdb",         "zide.db",  "zide.db-journal",
                          "temp/declaracao.gdb", "zide-usuario.ini", "diziz.ini"};
  AppFolder::restrictNewFiles();
  QTemporaryDir parent;
  const QString data = parent.path() + "/dados";
  qputenv("ZIDE_HOME", data.toLocal8Bit());
  auto restore = qScopeGuard([] { qunsetenv("ZIDE_HOME"); });
  QVERIFY(QDir().mkpath(data + "/temp"));
  QVERIFY(QDir().mkpath(parent.path() + "/alvos"));
  for (const QString& name : names) {
    const QString target = parent.path() + "/alvos/" + QFileInfo(name).fileName();
    QVERIFY(
        writeFile(target, name.toUtf8(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    // diziz.ini is created only when none is there: a dangling link stands in its place.
    QVERIFY(QFile::link(name == "diziz.ini" ? target + ".pendente" : target, data + "/" + name));
  }

  QVERIFY(AppFolder::prepare());
  WriteUserSetting("teste", "valor");
  Intake intake;
  const Intake::Result outcome = runIntake(intake, gdb_);
  QVERIFY2(outcome.ok(), qPrintable(outcome.error + outcome.details));
  QCOMPARE(ReadUserSetting("teste"), QString("valor"));

  for (const QString& name : names) {
    const QString target = parent.path() + "/alvos/" + QFileInfo(name).fileName();
    QCOMPARE(bytesOf(target), name.toUtf8());
    QVERIFY2(modesUnder(parent.path() + "/alvos").contains(QFileInfo(name).fileName() + " 644"), qPrintable(name));
    // Whatever stands at the name now is the program's own regular file, or nothing.
    struct stat st;
    if (::lstat(QFile::encodeName(data + "/" + name).constData(), &st) == 0) {
      QVERIFY2(S_ISREG(st.st_mode), qPrintable(name));
      QCOMPARE(st.st_mode & 07777, 0600u);
    }
  }
  QCOMPARE(QDir(parent.path() + "/alvos").entryList(QDir::Files).size(), names.size());
}

void TstDataFolder::diskFullOrLockedWhileLoading_data() {
  // clang-format off
  QTest::addColumn<QString>("fault");
  QTest::addColumn<qint64>("left");  // bytes left free on the disk when loading starts
  QTest::newRow("disco cheio")            << "cheio"     << qint64(0);
  QTest::newRow("disco com 256 KiB")      << "cheio"     << qint64(256 << 10);
  QTest::newRow("zide.db lido por outro") << "bloqueado" << qint64(-1);
  // clang-format on
}

// The data folder's disk fills (a tmpfs of the test's own) or another program holds zide.db while
// the tables load: the intake ends with both working databases removed, or with both whole and
// holding the same rows, and a failure names the full disk. Never "no error" with rows lost.
void TstDataFolder::diskFullOrLockedWhileLoading() {
  QFETCH(QString, fault);
  QFETCH(qint64, left);
  QTemporaryDir parent;
  QString data = parent.path() + "/dados";
  auto unmount = qScopeGuard([&] { QProcess::execute("umount", {data}); });
  if (fault == "cheio") {
    QVERIFY(QDir().mkpath(data));
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=24m,mode=0700", "tmpfs", data}) != 0)
      QSKIP("a tmpfs cannot be mounted here (needs root)");
  } else {
    unmount.dismiss();
  }
  qputenv("ZIDE_HOME", data.toLocal8Bit());
  auto restore = qScopeGuard([] { qunsetenv("ZIDE_HOME"); });
  QVERIFY(AppFolder::prepare());

  Intake intake;
  QSqlDatabase reader;
  QSqlQuery* held = nullptr;
  // Every export is in temp/; then the disk fills, or a reader keeps zide.db from being written.
  QObject::connect(&intake, &Intake::loadingStarted, &intake, [&] {
    if (fault == "cheio") {
      QFile filler(data + "/enchimento");
      QVERIFY(filler.open(QIODevice::WriteOnly));
      const QByteArray block(4096, 'x');
      while (filler.write(block) == block.size() && filler.flush()) {}
      filler.close();
      QVERIFY(filler.resize(qMax<qint64>(0, filler.size() - left)));
      return;
    }
    reader = QSqlDatabase::addDatabase("QSQLITE", "outro-programa");
    reader.setDatabaseName(AppFolder::file("zide.db"));
    QVERIFY(reader.open());
    held = new QSqlQuery(reader);
    QVERIFY(held->exec("BEGIN"));
    QVERIFY(held->exec("SELECT count(*) FROM sqlite_master") && held->next());
  });
  const Intake::Result outcome = runIntake(intake, gdb_);
  if (held) {
    held->exec("ROLLBACK");
    delete held;
    reader.close();
  }
  reader = QSqlDatabase();
  QSqlDatabase::removeDatabase("outro-programa");
  QFile::remove(data + "/enchimento");

  QCOMPARE(exportsIn(AppFolder::file("temp")), QStringList());
  QVERIFY(!QFile::exists(AppFolder::file("zide.mdb.parcial")));
  const bool work = QFile::exists(AppFolder::file("zide.db"));
  const bool access = QFile::exists(AppFolder::file("zide.mdb"));
  if (!outcome.ok()) {
    QVERIFY2(!work && !access, qPrintable(outcome.error));
    if (fault == "cheio")
      QVERIFY2(outcome.error.startsWith("Não há espaço livre suficiente no disco da pasta do programa"),
               qPrintable(outcome.error));
    else
      QVERIFY2(outcome.error.startsWith("Não foi possível gravar os bancos de dados de trabalho"),
               qPrintable(outcome.error));
    QVERIFY(!outcome.details.isEmpty());
    return;
  }
  // Enough room after all: both whole, nothing lost, the same rows in each (mdbtools reads zide.mdb).
  QVERIFY2(left > 0, "a full disk cannot take a declaration");
  QVERIFY(work && access);
  QCOMPARE(outcome.failedStatements, 0);
  DbConnection db(AppFolder::file("zide.db"));
  for (const Intake::TableResult& t : outcome.tables) {
    const int rows = db.query(QString("select count(*) from %1").arg(t.table)).value(0).value(0).toInt();
    QCOMPARE(rows, t.rows);
    QCOMPARE(mdbExportRows(AppFolder::file("zide.mdb"), t.table).size() - 1, rows);
  }
}

// A table whose commit fails (another program reads zide.db the whole time) keeps none of its rows
// and ends the load with the reason: its rows are already in the Access side, so calling them lost
// and going on would leave the two databases disagreeing.
void TstDataFolder::failedCommitEndsTheLoad() {
  QTemporaryDir dir;
  const QString work = dir.filePath("zide.db");
  QVERIFY(QFile::copy(builtProgram("zide_limpo.db"), work));
  QVERIFY(QFile::setPermissions(work, QFile::ReadOwner | QFile::WriteOwner));
  const QString table = "TAB03003";
  DbConnection db(work);
  const QString column = db.query(QString("PRAGMA table_info(%1)").arg(table)).value(0).value("name").toString();
  QVERIFY(!column.isEmpty());
  QVERIFY(
      writeFile(dir.filePath("export.txt"), QString("INSERT INTO %1 (%2) VALUES (7)\r\n").arg(table, column).toUtf8()));
  QSqlDatabase reader = QSqlDatabase::addDatabase("QSQLITE", "leitor");
  reader.setDatabaseName(work);
  QVERIFY(reader.open());
  {
    QSqlQuery held(reader);
    QVERIFY(held.exec("BEGIN") && held.exec("SELECT count(*) FROM sqlite_master") && held.next());
    jet::JetWriter access(dir.filePath("zide.mdb"));
    Intake::Result outcome;
    Intake::loadTable(db, table, dir.filePath("export.txt"), outcome, &access);
    QVERIFY2(outcome.error.startsWith("Não foi possível gravar os bancos de dados de trabalho"),
             qPrintable(outcome.error));
    QVERIFY(outcome.details.contains("locked"));
    QCOMPARE(outcome.loadedStatements, 0);
    held.exec("ROLLBACK");
  }
  reader.close();
  reader = QSqlDatabase();
  QSqlDatabase::removeDatabase("leitor");
  QCOMPARE(db.query(QString("select count(*) from %1").arg(table)).value(0).value(0).toInt(), 0);
}

QTEST_GUILESS_MAIN(TstDataFolder)
#include "tst_datafolder.moc"
