#include <QtTest>

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <QCheckBox>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTreeWidget>
#include <memory>

#include "access/jetwriter.h"
#include "base/appfolder.h"
#include "base/settings.h"
#include "gui/main/principal.h"
#include "gui/registry/certificatedialog.h"
#include "gui/registry/frmcontador.h"
#include "gui/registry/frmcriacontribuinte.h"
#include "gui/registry/importarempresas.h"
#include "gui/transmission/frmupload.h"
#include "gui/transmission/frmuploadsimples.h"
#include "net/soap.h"
#include "registry/certificates.h"
#include "registry/certsources.h"
#include "registry/importaccess.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "support/accessdb.h"
#include "support/cannedserver.h"
#include "support/dialogchooser.h"
#include "support/formdriver.h"
#include "support/intakesupport.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/testcerts.h"
#include "support/testenv.h"
#include "transmission/intake.h"

// The fault matrix: each row provokes one fault of the server or of a file on the user's disk,
// drives the program as the user would, and checks what the user is shown and that nothing the
// program keeps was lost or overwritten. docs/confiabilidade.md lists the rows.

using namespace FormDriver;

namespace {
const QString kIE = QStringLiteral("0623079040081");
const QString kKey = QStringLiteral("DEMO1234");
const QString kDown = QStringLiteral("O Servidor está indisponivel, tente novamente mais tarde.");
const QString kSaved = QStringLiteral("Contador cadastrado com sucesso");
const QString kNoAccountant = QStringLiteral("É necessário informar os dados do contador para envio da declaração");
const QString kCloseZide =
    QStringLiteral("Por favor, se o programa ZIDE-MG estiver aberto queira por gentileza fechá-lo.");
// The intake's failure names the user's own file, then says what is wrong with it.
QString intakeFailed(const QString& gdb) {
  return QStringLiteral("Erro: não foi possível preparar o arquivo escolhido.\r\n") + QDir::toNativeSeparators(gdb) +
         QStringLiteral("\r\n\r\n");
}
const QString kNotAccess =
    QStringLiteral("Erro: Arquivo inválido, você deve selecionar um arquivo conforme o manual indicar");
const QString kOldName = QStringLiteral("Escritório Antigo Ltda");
const QString kNewName = QStringLiteral("Escritório Novo Ltda");

QByteArray bytesOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<não abriu>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
  f.write(bytes);
}

QByteArray randomBytes(qsizetype size, quint32 seed) {
  QByteArray b(size, Qt::Uninitialized);
  QRandomGenerator gen(seed);
  for (char& c : b) c = char(gen.bounded(256));
  return b;
}

// Every row of both tables, read without creating, waiting for or writing anything.
QStringList registryRows(const QString& path) {
  QStringList out;
  const QString name = QStringLiteral("matrix-reader");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!QFileInfo::exists(path) || !db.open()) {
      out << QStringLiteral("<não abriu>");
    } else {
      for (const QString& table : {QStringLiteral("tblContador"), QStringLiteral("tblContribuinte")}) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table))) {
          out << QStringLiteral("<%1: %2>").arg(table, q.lastError().text());
          continue;
        }
        while (q.next()) {
          QStringList cells;
          for (int i = 0; i < q.record().count(); ++i) cells << q.value(i).toString();
          out << table + QStringLiteral(": ") + cells.join(QLatin1Char('|'));
        }
      }
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return out;
}

// The SQLite error of reading the file at once, without waiting: 0 when it can be read.
int immediateReadError(const QString& path) {
  int code = 0;
  const QString name = QStringLiteral("matrix-probe");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=0"));
    if (db.open()) {
      QSqlQuery q(db);
      if (!q.exec(QStringLiteral("SELECT count(*) FROM tblContador"))) code = q.lastError().nativeErrorCode().toInt();
    } else {
      code = -1;
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return code;
}

// The list of transmissions as the server writes it (date at 32-50, year at 59-67, version at 78-97).
QString ver2(const QString& rows) {
  return QStringLiteral("<listaTransferencias dataServ=\"01/12/2026 10:00:00\" anoT=\"2026/2027\" versao=\"") +
         QStringLiteral("1.15.01").leftJustified(20) + QStringLiteral("\">") + rows +
         QStringLiteral("</listaTransferencias>");
}
QString transmission(int n) {
  return QStringLiteral(
             "<transferencia><referencia>%1/2026</referencia><data>05/12/2026 09:00:00</data>"
             "<protocolo>2026%2</protocolo><status>1</status><adicionado>100,00</adicionado>"
             "</transferencia>")
      .arg(n % 12 + 1, 2, 10, QLatin1Char('0'))
      .arg(n, 6, 10, QLatin1Char('0'));
}
QString transmissions(int count) {
  QString rows;
  for (int i = 1; i <= count; ++i) rows += transmission(i);
  return rows;
}
QByteArray listAnswer(int count) {
  return CannedServer::envelope(QStringLiteral("Transferencia.ver2"), ver2(transmissions(count)));
}

// A list answer of at least 10 MiB; *count gets the number of transmissions in it.
QByteArray tenMegabyteList(int* count) {
  const qsizetype perRow = transmission(1).toHtmlEscaped().toUtf8().size();
  *count = int((10 << 20) / perRow) + 1;
  return listAnswer(*count);
}

// The file cannot be written by this process, root included (root ignores the mode bits, so the
// immutable attribute is added when the mode alone was not enough). Undone when destroyed.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const QString& path) : path_(path), permissions_(QFile::permissions(path)) {
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (writable()) immutable_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0;
  }
  ~ReadOnlyFile() {
    if (immutable_) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
    QFile::setPermissions(path_, permissions_);
  }
  bool holds() const { return !writable(); }

 private:
  bool writable() const {
    QFile f(path_);
    return f.open(QIODevice::ReadWrite);  // opening changes nothing
  }
  QString path_;
  QFileDevice::Permissions permissions_;
  bool immutable_ = false;
};

// Another program inside an exclusive transaction on the file: the sqlite3 shell, which has
// written a row and not yet committed.
class LockingProcess {
 public:
  explicit LockingProcess(const QString& path) : path_(path) {}
  ~LockingProcess() {
    if (shell_.state() != QProcess::NotRunning) {
      shell_.kill();
      shell_.waitForFinished(5000);
    }
  }
  // Starts the transaction and returns once a reader is refused.
  bool lock(const QString& sql) {
    shell_.start(QStringLiteral("sqlite3"), {path_});
    if (!shell_.waitForStarted(10000)) return false;
    shell_.write("BEGIN EXCLUSIVE;\n" + sql.toUtf8() + "\n");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
      if (immediateReadError(path_) == 5) return true;  // SQLITE_BUSY
      QTest::qWait(50);
    }
    return false;
  }
  // Commits and ends the other program.
  bool release() {
    shell_.write("COMMIT;\n.quit\n");
    shell_.closeWriteChannel();
    return shell_.waitForFinished(10000) && shell_.exitStatus() == QProcess::NormalExit && shell_.exitCode() == 0;
  }
  QString errors() { return QString::fromLocal8Bit(shell_.readAllStandardError()); }

 private:
  QString path_;
  QProcess shell_;
};

// Every file of a folder with its bytes.
QMap<QString, QByteArray> folderContents(const QString& path) {
  QMap<QString, QByteArray> m;
  for (const QString& n : QDir(path).entryList(QDir::Files | QDir::Hidden, QDir::Name))
    m.insert(n, bytesOf(QDir(path).filePath(n)));
  return m;
}

// A browser's certificate database held by another program: the sqlite3 shell inside a read
// transaction (as a running browser that reads it) or an exclusive one (as one that writes it).
class HeldDatabase {
 public:
  ~HeldDatabase() {
    if (shell_.state() != QProcess::NotRunning) {
      shell_.kill();
      shell_.waitForFinished(5000);
    }
  }
  bool hold(const QString& file, bool exclusive) {
    shell_.start(QStringLiteral("sqlite3"), {file});
    if (!shell_.waitForStarted(10000)) return false;
    shell_.write(exclusive ? "BEGIN EXCLUSIVE;\nSELECT 'held';\n" : "BEGIN;\nSELECT 'held' FROM nssPublic LIMIT 1;\n");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && !out_.contains("held")) {
      shell_.waitForReadyRead(200);
      out_ += shell_.readAllStandardOutput();
    }
    return out_.contains("held");
  }
  bool release() {
    shell_.write("ROLLBACK;\n.quit\n");
    shell_.closeWriteChannel();
    return shell_.waitForFinished(10000) && shell_.exitCode() == 0;
  }
  QString errors() { return QString::fromLocal8Bit(shell_.readAllStandardError()); }

 private:
  QProcess shell_;
  QByteArray out_;
};

bool processAlive(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) == 0; }
}  // namespace

class TstFaultMatrix : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void serverFaults_data();
  void serverFaults();
  void settingsFileFaults_data();
  void settingsFileFaults();
  void registryMissing();
  void registryReadOnly();
  void registryCorrupt_data();
  void registryCorrupt();
  void registryLocked();
  void declarationIntakeFaults_data();
  void declarationIntakeFaults();
  void truncatedCertificateImported_data();
  void truncatedCertificateImported();
  void truncatedCertificateInTheStore_data();
  void truncatedCertificateInTheStore();
  void tokenRemovedBeforeTheChoice();
  void browserDatabaseHeldByAnotherProgram();
  void certificateSourcesThatNeverEnd_data();
  void certificateSourcesThatNeverEnd();
  void pkcs12WithHugeIterationCount_data();
  void pkcs12WithHugeIterationCount();
  void novaGiaFileNotAccess_data();
  void novaGiaFileNotAccess();
  void engineLockFolderTakenByAnotherUser();
  void accessKeyOutOfTheProcessList();
  void serverBusy();
  void floatAtTheLimitOfItsRange();

 private:
  QString registry() const { return app_->file(QStringLiteral("diziz.db")); }
  void seedRegistry();
  Principal* mainWindow();
  FrmContador* accountantWindow();
  QString storedAccountantName();
  void fillAccountant(FrmContador* f);
  QString workFile(const QString& name, const QByteArray& bytes);

  FirebirdLock firebirdLock_;
  AccessReader accessReader_;  // the built helper: nothing is installed beside this test
  QTemporaryDir work_;         // declarations, certificates and other files the user picks
  QString declaration_;
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<CertStoreFolder> store_;
  std::unique_ptr<Recorder> rec_;
};

void TstFaultMatrix::initTestCase() {
  accessReader_ = AccessReader::standard();
  accessReader_.program = builtProgram(QStringLiteral("zide-mdbread"));
  accessReader_.limits.timeoutMs = 2500;  // the file that loops costs this much (20 s in the program)
  InstallAccessReader(&accessReader_);
  declaration_ = work_.filePath(QStringLiteral("modelo.gdb"));
  QVERIFY(
      makeDeclaration(declaration_, {"--company", kIE + ",11222333000181", "--references", "2", "--rows-each", "1"}));
}

void TstFaultMatrix::init() {
  app_ = std::make_unique<TestAppFolder>();
  // The certificate rows make their own tokens and browser databases; no other is read.
  store_ = std::make_unique<CertStoreFolder>();
  rec_ = std::make_unique<Recorder>();
  app_->write(QStringLiteral("info.dip"), "1.15.01");
  seedRegistry();
}

void TstFaultMatrix::cleanup() {
  Forms::unloadAll();
  settle();
  SetSoapInactivityTimeoutMs(60000);
  rec_.reset();
  store_.reset();
  app_.reset();
}

// The accountant and two companies, as a user who has worked with the program has them.
void TstFaultMatrix::seedRegistry() {
  LocalDatabase::Connection db;
  db.exec("Insert into tblContador values (?,?,?,?,?,?,?,?,?,?,?,?)",
          {"123.456.789-09", "MG-012345/O", kOldName, "Rua d'Água", "10", "", "Centro", "Tavarel", "MG",
           "(31) 3456-7800", "35000-000", "contato@antigo.com.br"});
  db.exec(
      "Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values "
      "('0623079040081','Empresa Demo','11.222.333/0001-81','4711-3/02','DEMO1234','777',0)");
  db.exec(
      "Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values "
      "('0011111110011','Padaria D''Ávila','09.139.099/0001-81','1091-1/02','PAD00001','',-1)");
}

Principal* TstFaultMatrix::mainWindow() {
  Principal* p = Forms::get<Principal>();
  p->show();
  p->setSelectedTaxpayer(kIE, QStringLiteral("Empresa Demo"), kKey);
  return p;
}

FrmContador* TstFaultMatrix::accountantWindow() {
  FrmContador* f = Forms::get<FrmContador>();
  f->show();
  return f;
}

QString TstFaultMatrix::storedAccountantName() {
  const QStringList rows = registryRows(registry());
  for (const QString& r : rows)
    if (r.startsWith(QLatin1String("tblContador: "))) return r.section(QLatin1Char('|'), 2, 2);
  return QString();
}

void TstFaultMatrix::fillAccountant(FrmContador* f) {
  FormDriver::fillAccountant(f, false, "12345678909", kNewName, "contato@novo.com.br");
}

QString TstFaultMatrix::workFile(const QString& name, const QByteArray& bytes) {
  const QString path = work_.filePath(name);
  writeFile(path, bytes);
  return path;
}

// ---- The server ----

void TstFaultMatrix::serverFaults_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("peer");
  QTest::newRow("servidor recusa a conexão") << "recusar";
  QTest::newRow("servidor nunca responde") << "silencio";
  QTest::newRow("servidor responde lixo") << "lixo";
  QTest::newRow("servidor responde página HTTP 500") << "erro500";
  QTest::newRow("resposta de 10 MB: uma lista enorme") << "10mb-lista";
  QTest::newRow("resposta de 10 MB que não é XML") << "10mb-lixo";
  QTest::newRow("servidor lê o pedido e fecha") << "fecha-apos-pedido";
  QTest::newRow("redirecionamento em círculo") << "redireciona-em-circulo";
  QTest::newRow("redirecionamento para outro servidor") << "redireciona-para-outro";
  QTest::newRow("resposta sem fim") << "resposta-sem-fim";
  // clang-format on
}

// The main window's refresh and the accountant's registration against each fault of the server.
void TstFaultMatrix::serverFaults() {
  QFETCH(QString, peer);

  // A list already on screen from a healthy server.
  CannedServer healthy;
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(healthy.port()));
  healthy.answer(listAnswer(2));
  Principal* p = mainWindow();
  p->RecebeDadosServer();
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
  auto* grid = p->findChild<QTableWidget*>(QStringLiteral("GridTransmissoes"));
  QCOMPARE(grid->rowCount(), 3);

  std::unique_ptr<SandboxServer> sandbox;
  std::unique_ptr<CannedServer> canned;
  int bigListRows = 0;
  quint16 port = 0;
  if (peer.startsWith(QLatin1String("10mb"))) {
    canned = std::make_unique<CannedServer>();
    const QByteArray body =
        peer == QLatin1String("10mb-lista") ? tenMegabyteList(&bigListRows) : randomBytes(10 << 20, 10);
    QVERIFY(body.size() >= 10 << 20);
    canned->answer(body);
    port = canned->port();
  } else if (peer == QLatin1String("fecha-apos-pedido") || peer.startsWith(QLatin1String("redireciona")) ||
             peer == QLatin1String("resposta-sem-fim")) {
    canned = std::make_unique<CannedServer>();
    const QByteArray elsewhere =
        "http://127.0.0.1:" + QByteArray::number(healthy.port()) + "/ovu/server/index_zide.php?wsdl";
    canned->handler = [peer, elsewhere](QTcpSocket* s, const CannedServer::Request&) {
      if (peer == QLatin1String("redireciona-para-outro")) {
        // Another server that would answer: the request (and the key in it) must not go there.
        s->write(CannedServer::response("307 Temporary Redirect", "", "Location: " + elsewhere + "\r\n"));
      } else if (peer == QLatin1String("redireciona-em-circulo")) {
        s->write(CannedServer::response("302 Found", "", "Location: /ovu/server/index_zide.php?wsdl\r\n"));
      } else if (peer == QLatin1String("resposta-sem-fim")) {
        // Keeps sending, up to 64 MiB, as fast as the program reads.
        s->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n<a>");
        auto sent = std::make_shared<qint64>(0);
        auto feed = [s, sent] {
          static const QByteArray block(1 << 20, 'x');
          while (s->bytesToWrite() < 2 * block.size() && *sent < (qint64(64) << 20)) {
            s->write(block);
            *sent += block.size();
          }
        };
        QObject::connect(s, &QTcpSocket::bytesWritten, s, feed);
        feed();
        return;
      }
      s->disconnectFromHost();
    };
    port = canned->port();
  } else {
    sandbox = std::make_unique<SandboxServer>(
        QStringList{"--contribuinte", kIE + ":" + kKey + ":11.222.333/0001-81", "--falha", peer});
    QVERIFY2(sandbox->isRunning(), qPrintable(sandbox->log()));
    port = sandbox->port();
  }
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(port));
  const QByteArray ini = bytesOf(app_->file(QStringLiteral("diziz.ini")));
  const QStringList stored = registryRows(registry());
  // A server that never answers is given up after this long without any progress.
  SetSoapInactivityTimeoutMs(1500);

  // The refresh: the message, and the list, the selection and the window as they were.
  QElapsedTimer clock;
  clock.start();
  p->RecebeDadosServer();
  QVERIFY2(clock.elapsed() < 30000, "the refresh must end");
  if (peer == QLatin1String("10mb-lista")) {
    QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
    QCOMPARE(grid->rowCount(), 1 + bigListRows);
    QCOMPARE(grid->item(bigListRows, 2)->text(), QStringLiteral("2026%1").arg(bigListRows, 6, 10, QLatin1Char('0')));
    QCOMPARE(Session::current().workingYear(), QStringLiteral("2026/2027"));
  } else {
    QCOMPARE(rec_->texts(), QStringList{kDown});
    QCOMPARE(rec_->messages[0].title, kMsgTitle);
    QCOMPARE(grid->rowCount(), 3);
    QCOMPARE(grid->item(2, 2)->text(), QStringLiteral("2026000002"));
  }
  QCOMPARE(p->selectedIE(), kIE);
  QCOMPARE(p->selectedChave(), kKey);
  QVERIFY(p->isEnabled());
  QVERIFY(p->findChild<QGroupBox*>(QStringLiteral("frmImportacao"))->isVisible());

  // The accountant's registration: the server hears first; only a failed exchange stops the save.
  rec_->clear();
  FrmContador* f = accountantWindow();
  QVERIFY(rec_->messages.isEmpty());
  type(f, "txtRazaoSocial", kNewName);
  clock.restart();
  click(f, "btnOK");
  QVERIFY2(clock.elapsed() < 30000, "the registration must end");
  if (peer == QLatin1String("10mb-lista")) {
    // A SOAP reply, however long: its text is not examined and the accountant is saved.
    QCOMPARE(rec_->texts(), QStringList{kSaved});
    QCOMPARE(storedAccountantName(), kNewName);
  } else {
    // No SOAP reply (refused, silent, garbage, an error page): the server did not take it.
    QCOMPARE(rec_->messages.size(), 1);
    QVERIFY2(rec_->lastText().startsWith(QStringLiteral("Falha de conexão - Cód 2, \r\n")),
             qPrintable(rec_->lastText()));
    QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
    QVERIFY(f->isVisible());
    QCOMPARE(registryRows(registry()), stored);
  }
  QCOMPARE(bytesOf(app_->file(QStringLiteral("diziz.ini"))), ini);
  // The refresh and the registration each reached the server once: nothing was sent again.
  if (peer == QLatin1String("fecha-apos-pedido") || peer == QLatin1String("redireciona-para-outro"))
    QCOMPARE(canned->requests.size(), 2);
  if (peer == QLatin1String("redireciona-para-outro")) QCOMPARE(healthy.requests.size(), 1);

  // The window is not stuck: the next refresh from a healthy server lists again.
  Forms::unloadAll();
  settle();
  rec_->clear();
  p = mainWindow();
  grid = p->findChild<QTableWidget*>(QStringLiteral("GridTransmissoes"));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(healthy.port()));
  healthy.answer(listAnswer(3));
  p->RecebeDadosServer();
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
  QCOMPARE(grid->rowCount(), 4);
}

// ---- diziz.ini ----

void TstFaultMatrix::settingsFileFaults_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<bool>("present");
  QTest::addColumn<QByteArray>("contents");  // %PORT% stands for the test server's port
  QTest::addColumn<QString>("host");
  QTest::addColumn<QString>("port");
  QByteArray padding;
  while (padding.size() < (1 << 20))
    padding += "[outra" + QByteArray::number(padding.size()) + "]\r\nchave=" + QByteArray(200, 'v') + "\r\n";
  QTest::newRow("diziz.ini ausente") << false << QByteArray() << QString() << QString();
  QTest::newRow("diziz.ini vazio") << true << QByteArray() << QString() << QString();
  QTest::newRow("diziz.ini de 1 MB, a seção no fim")
      << true << padding + "[servidor]\r\nhost=127.0.0.1\r\nport=%PORT%\r\n" << "127.0.0.1" << "%PORT%";
  QTest::newRow("diziz.ini de 1 MB num só valor")
      << true << "[servidor]\r\nhost=127.0.0.1\r\nport=" + QByteArray(1 << 20, '9') + "\r\n" << "127.0.0.1"
      << QString(254, QLatin1Char('9'));
  QTest::newRow("diziz.ini binário") << true << randomBytes(256 * 1024, 1010) << QString() << QString();
  // clang-format on
}

// What the refresh and the accountant's registration do with each settings file.
void TstFaultMatrix::settingsFileFaults() {
  QFETCH(bool, present);
  QFETCH(QByteArray, contents);
  QFETCH(QString, host);
  QFETCH(QString, port);
  CannedServer server;
  server.answer(listAnswer(2));
  const QByteArray serverPort = QByteArray::number(server.port());
  contents.replace("%PORT%", serverPort);
  port.replace(QLatin1String("%PORT%"), QString::fromLatin1(serverPort));
  const QString iniPath = app_->file(QStringLiteral("diziz.ini"));
  if (present) writeFile(iniPath, contents);
  else QVERIFY(!QFile::exists(iniPath));
  const QStringList stored = registryRows(registry());

  // The reader gives sane values: the file's, cut to 254 characters, or nothing.
  QCOMPARE(ReadSetting(QStringLiteral("servidor"), QStringLiteral("host")), host);
  QCOMPARE(ReadSetting(QStringLiteral("servidor"), QStringLiteral("port")), port);
  const bool reaches = port == QString::fromLatin1(serverPort);

  Principal* p = mainWindow();
  p->RecebeDadosServer();
  auto* grid = p->findChild<QTableWidget*>(QStringLiteral("GridTransmissoes"));
  if (reaches) {
    QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
    QCOMPARE(grid->rowCount(), 3);
  } else {
    QCOMPARE(rec_->texts(), QStringList{kDown});
    QCOMPARE(grid->rowCount(), 1);
    QVERIFY(server.requests.isEmpty());
  }
  QVERIFY(p->isEnabled());
  QCOMPARE(p->selectedIE(), kIE);

  rec_->clear();
  FrmContador* f = accountantWindow();
  type(f, "txtRazaoSocial", kNewName);
  click(f, "btnOK");
  if (reaches) {
    QCOMPARE(rec_->texts(), QStringList{kSaved});
    QCOMPARE(storedAccountantName(), kNewName);
  } else {
    QCOMPARE(rec_->messages.size(), 1);
    QVERIFY2(rec_->lastText().startsWith(QStringLiteral("Falha de conexão - Cód 2, \r\n")),
             qPrintable(rec_->lastText()));
    QCOMPARE(registryRows(registry()), stored);
  }
  // The program never writes the settings file.
  if (present) QCOMPARE(bytesOf(iniPath), contents);
  else QVERIFY(!QFile::exists(iniPath));
}

// ---- diziz.db ----

// Missing: made afresh with both tables on first use, and usable at once.
void TstFaultMatrix::registryMissing() {
  QVERIFY(QFile::remove(registry()));
  CannedServer server;
  server.answer(
      CannedServer::envelope(QStringLiteral("Transferencia.contador"), QStringLiteral("CONTADOR_CADASTRADO")));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));

  Principal* p = mainWindow();
  p->Command1_Click();
  QCOMPARE(rec_->texts(), QStringList{kNoAccountant});
  FrmContador* f = Forms::find<FrmContador>();
  QVERIFY(f && f->isVisible());
  QVERIFY(!Forms::find<FrmUpload>() && !Forms::find<FrmUploadSimples>());
  QCOMPARE(registryRows(registry()), QStringList());  // both tables there, both empty

  rec_->clear();
  fillAccountant(f);
  click(f, "btnOK");
  QCOMPARE(rec_->texts(), QStringList{kSaved});
  QCOMPARE(storedAccountantName(), kNewName);
}

// Read-only: reading works; every save is refused with its message and the file stays as it was.
void TstFaultMatrix::registryReadOnly() {
  CannedServer server;
  server.answer(
      CannedServer::envelope(QStringLiteral("Transferencia.contador"), QStringLiteral("CONTADOR_CADASTRADO")));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  const QByteArray before = bytesOf(registry());
  const QStringList stored = registryRows(registry());
  ReadOnlyFile readOnly(registry());
  if (!readOnly.holds()) QSKIP("this user can write any file (no chattr)");

  FrmContador* f = accountantWindow();
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
  QCOMPARE(child(f, "txtRazaoSocial")->text(), kOldName);
  type(f, "txtRazaoSocial", kNewName);
  click(f, "btnOK");
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY2(rec_->lastText().startsWith(QStringLiteral("Falha de conexão - Cód 1, \r\n")), qPrintable(rec_->lastText()));
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QVERIFY(f->isVisible());

  rec_->clear();
  rec_->answers.enqueue(QMessageBox::Yes);  // the removal asks first
  click(f, "Command2");                     // Remover
  QCOMPARE(rec_->texts(),
           (QStringList{QStringLiteral("Deseja realmente remover os dados do contador?"),
                        QStringLiteral("Não foi possível excluir o contador. Tente novamente mais tarde.")}));
  QVERIFY(f->isVisible());

  // A new company is refused with the database's report.
  rec_->clear();
  auto* c = Forms::get<FrmCriaContribuinte>();
  c->show();
  c->txtIE()->setText(QStringLiteral("0908301661392"));
  c->txtRazaoSocial()->setText(QStringLiteral("Padaria São José Ltda"));
  c->txtCNPJ()->setText(QStringLiteral("52.601.815/0001-20"));
  c->txtCNAE()->setText(QStringLiteral("2486-8/54"));
  c->chave()->setText(QStringLiteral("AB12CD34"));
  c->cmdOK_Click();
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY2(rec_->lastText().startsWith(QStringLiteral("\r\nVB Error #  8\r\n")), qPrintable(rec_->lastText()));
  QVERIFY(c->isVisible());

  QCOMPARE(bytesOf(registry()), before);
  QCOMPARE(registryRows(registry()), stored);
}

void TstFaultMatrix::registryCorrupt_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("kind");
  QTest::addColumn<int>("code");  // the SQLite error the report names
  QTest::newRow("diziz.db que não é banco de dados") << "lixo" << 26;
  QTest::newRow("diziz.db cortado no primeiro bloco") << "cortado" << 11;
  // clang-format on
}

// Corrupt: every action reports the database error; the file is never repaired over or replaced.
void TstFaultMatrix::registryCorrupt() {
  QFETCH(QString, kind);
  QFETCH(int, code);
  if (kind == QLatin1String("lixo")) {
    writeFile(registry(), randomBytes(16384, 26));
  } else {
    const QByteArray whole = bytesOf(registry());
    QVERIFY(whole.size() > 4096);
    writeFile(registry(), whole.left(4096));
  }
  const QByteArray before = bytesOf(registry());
  CannedServer server;
  server.answer(
      CannedServer::envelope(QStringLiteral("Transferencia.contador"), QStringLiteral("CONTADOR_CADASTRADO")));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  const QString reportStart = QStringLiteral("\r\nVB Error #  %1\r\n   Generated by SQLite\r\n").arg(code);

  // "Escolher arquivo para transmitir": the report, and no transmission window.
  Principal* p = mainWindow();
  p->Command1_Click();
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY2(rec_->lastText().startsWith(reportStart), qPrintable(rec_->lastText()));
  QCOMPARE(rec_->messages[0].title, kAppTitle);
  QCOMPARE(rec_->messages[0].icon, QMessageBox::NoIcon);
  QVERIFY(!Forms::find<FrmUpload>() && !Forms::find<FrmUploadSimples>() && !Forms::find<FrmContador>());
  QVERIFY(p->isEnabled());

  // Contribuinte › Novo: the report, and the main window given back.
  rec_->clear();
  p->mnContribuinteNovo_Click();
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY(rec_->lastText().startsWith(reportStart));
  QVERIFY(!Forms::find<FrmCriaContribuinte>());
  QVERIFY(p->isEnabled());

  // The accountant's window opens empty (with the report) and its save is refused.
  rec_->clear();
  FrmContador* f = accountantWindow();
  QCOMPARE(rec_->messages.size(), 1);
  fillAccountant(f);
  click(f, "btnOK");
  QCOMPARE(rec_->messages.size(), 2);
  QVERIFY2(rec_->lastText().startsWith(QStringLiteral("Falha de conexão - Cód 1, \r\n")), qPrintable(rec_->lastText()));
  QVERIFY(f->isVisible());

  QCOMPARE(bytesOf(registry()), before);
  QVERIFY(!QFile::exists(registry() + "-journal"));
}

// Locked by another program: the wait ends with the database's report; once the other program
// commits, its row and every earlier one are there.
void TstFaultMatrix::registryLocked() {
  CannedServer server;
  server.answer(
      CannedServer::envelope(QStringLiteral("Transferencia.contador"), QStringLiteral("CONTADOR_CADASTRADO")));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  const QStringList stored = registryRows(registry());
  Principal* p = mainWindow();
  FrmContador* f = accountantWindow();  // loaded before the other program takes the file
  QVERIFY(rec_->messages.isEmpty());

  LockingProcess other(registry());
  const QString otherRow = QStringLiteral("0022222220022|Empresa do Outro Programa|||||0");
  QVERIFY2(other.lock(QStringLiteral("INSERT INTO tblContribuinte (IE,RazaoSocial,OptanteSimples) "
                                     "VALUES ('0022222220022','Empresa do Outro Programa',0);")),
           qPrintable(other.errors()));

  const QString reportStart = QStringLiteral("\r\nVB Error #  5\r\n   Generated by SQLite\r\n");
  QElapsedTimer clock;
  clock.start();
  p->Command1_Click();
  QVERIFY2(clock.elapsed() < 20000, "the wait for the other program must end");
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY2(rec_->lastText().startsWith(reportStart), qPrintable(rec_->lastText()));
  QVERIFY(!Forms::find<FrmUpload>() && !Forms::find<FrmUploadSimples>());
  QVERIFY(p->isEnabled());

  rec_->clear();
  type(f, "txtRazaoSocial", kNewName);
  click(f, "btnOK");
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY2(rec_->lastText().startsWith(QStringLiteral("Falha de conexão - Cód 1, \r\n")), qPrintable(rec_->lastText()));
  QVERIFY(f->isVisible());

  QVERIFY2(other.release(), qPrintable(other.errors()));
  QCOMPARE(registryRows(registry()), stored + QStringList{"tblContribuinte: " + otherRow});

  // With the file free again the same save goes through.
  rec_->clear();
  click(f, "btnOK");
  QCOMPARE(rec_->texts(), QStringList{kSaved});
  QCOMPARE(storedAccountantName(), kNewName);
}

// ---- The declaration's intake ----

void TstFaultMatrix::declarationIntakeFaults_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("fault");
  QTest::addColumn<QString>("detail");  // after the first line and the file's name; %BIN% = beside the program
  QTest::addColumn<QString>("technical");  // shown apart, on request
  QTest::newRow("zide_limpo.db ausente")
      << "modelo" << "O banco de dados modelo não foi encontrado:\r\n%BIN%/zide_limpo.db\r\n\r\nReinstale o programa." << "";
  QTest::newRow("fbexport ausente")
      << "ferramenta" << "O programa de exportação não foi encontrado:\r\n%BIN%/fbexport\r\n\r\nReinstale o programa." << "";
  QTest::newRow("fbexport termina com falha de segmentação")
      << "trava" << "Não foi possível ler a tabela TAB03003 do arquivo escolhido.%GERACAO%" << "o programa de exportação terminou de forma inesperada";
  QTest::newRow("fbexport não termina")
      << "para" << "Não foi possível ler a tabela TAB03003 do arquivo escolhido.%GERACAO%" << "a leitura não terminou em 5 segundos e foi interrompida";
  // A table whose export outgrows what the file can hold (a hostile file's loops): here the real tool
  // given a tiny limit for it.
  QTest::newRow("exportação maior que a declaração")
      << "grande" << "O arquivo escolhido está danificado: a tabela TAB03003 daria mais dados do que a declaração pode conter, e não foi lida.\r\n\r\nCopie a declaração de novo a partir do original ou grave-a outra vez no programa ZIDE-MG.%GERACAO%"
      << "a exportação passou de 100 bytes, mais do que a declaração pode conter (arquivo de %TAMANHO% bytes)";
  // Cut at a page boundary or not, the header or the engine finds it; the engine's words stay apart.
  QTest::newRow(".GDB cortado ao meio") << "cortado" << "O arquivo escolhido está " << "";
  // clang-format on
}

// The ZIDE window given each fault of the installation or of the declaration: the message, no
// references and no sending; the declaration, the registry and (when the failure comes before the
// work starts) the previous working database stay as they were.
void TstFaultMatrix::declarationIntakeFaults() {
  QFETCH(QString, fault);
  QFETCH(QString, detail);
  QFETCH(QString, technical);
  const QString bin = QCoreApplication::applicationDirPath();
  QVERIFY2(!QFile::exists(bin + "/zide_limpo.db") && !QFile::exists(bin + "/fbexport"),
           "nothing may be installed beside the test");
  detail.replace(QLatin1String("%BIN%"), bin);
  // The declaration is the engine's here: the message names its generation.
  detail.replace(QLatin1String("%GERACAO%"),
                 QStringLiteral("\r\n\r\nO arquivo foi gravado por Firebird 3 (estrutura em disco 12.0)."));
  technical.replace(QLatin1String("%TAMANHO%"), QString::number(bytesOf(declaration_).size()));

  // The installation: the template and the export tool, or what stands in for the tool. Helpers run
  // only from the program's own installation, so the tool goes into a stand-in for it.
  const QString realTool = builtProgram(QStringLiteral("fbexport"));
  QTemporaryDir installation;
  const QString tool = installation.filePath(QStringLiteral("fbexport"));
  if (fault != QLatin1String("ferramenta")) AppFolder::setHelperFolderForTests(installation.path());
  auto restore = qScopeGuard([] { AppFolder::setHelperFolderForTests(QString()); });
  const QString pidFile = app_->file(QStringLiteral("fbexport.pid"));
  if (fault != QLatin1String("modelo"))
    QVERIFY(QFile::copy(builtProgram(QStringLiteral("zide_limpo.db")), app_->file(QStringLiteral("zide_limpo.db"))));
  if (fault == QLatin1String("trava") || fault == QLatin1String("para") || fault == QLatin1String("grande")) {
    // Fails on a table the reference list needs, the way the row needs; every other table goes to
    // the real tool.
    const QByteArray failing = fault == QLatin1String("trava") ? QByteArray("    ulimit -c 0\n    kill -SEGV $$\n")
                               : fault == QLatin1String("para")
                                   ? "    echo $$ > '" + pidFile.toUtf8() + "'\n    exec sleep 60\n"
                                   : "    exec '" + realTool.toUtf8() + "' \"$@\" --limite-saida 100\n";
    writeFile(tool, "#!/bin/sh\ncase \" $* \" in\n  *\" TAB03003 \"*)\n" + failing + "    ;;\nesac\nexec '" +
                        realTool.toUtf8() + "' \"$@\"\n");
    QVERIFY(QFile::setPermissions(tool, QFile::permissions(tool) | QFileDevice::ExeOwner));
  } else if (fault != QLatin1String("ferramenta")) {
    QVERIFY(QFile::link(realTool, tool));
  }

  // The declaration the user picks, and the working database of an earlier one.
  const QString folder = app_->file(QStringLiteral("declaracoes"));
  QVERIFY(QDir().mkpath(folder));
  const QString gdb = folder + QStringLiteral("/ZIDE.GDB");
  QByteArray whole = bytesOf(declaration_);
  writeFile(gdb, fault == QLatin1String("cortado") ? whole.left(whole.size() / 2) : whole);
  const QByteArray gdbBefore = bytesOf(gdb);
  const QByteArray earlierWork = "zide.db de uma declaração anterior";
  app_->write(QStringLiteral("zide.db"), earlierWork);
  const QStringList stored = registryRows(registry());

  Principal* p = mainWindow();
  p->setEnabled(false);  // as the transmit button leaves it
  FrmUpload* f = Forms::get<FrmUpload>();
  f->show();
  f->setExportTimeout(5000);
  QVERIFY(rec_->messages.isEmpty());
  f->setFolder(folder);
  QSignalSpy finished(f, &FrmUpload::intakeFinished);
  QElapsedTimer clock;
  clock.start();
  QVERIFY(f->chooseFile(QStringLiteral("ZIDE.GDB")));
  QVERIFY(finished.count() > 0 || finished.wait(60000));
  QVERIFY(clock.elapsed() < 60000);

  QCOMPARE(rec_->messages.size(), 2);
  QCOMPARE(rec_->messages[0].text, kCloseZide);
  const Recorder::Message& m = rec_->messages[1];
  if (fault == QLatin1String("cortado")) {
    QVERIFY2(m.text.startsWith(intakeFailed(gdb) + detail), qPrintable(m.text));
    QVERIFY2(m.text.contains(QLatin1String("incompleto")), qPrintable(m.text));
    // Nothing of the engine's English, nor the name of the program's own copy, in the message.
    QVERIFY2(!m.text.contains(QLatin1String("error"), Qt::CaseInsensitive), qPrintable(m.text));
    QVERIFY2(!m.text.contains(QLatin1String("temp")) && !m.details.contains(QLatin1String("temp/")),
             qPrintable(m.text + m.details));
  } else {
    QCOMPARE(m.text, intakeFailed(gdb) + detail);
    QCOMPARE(m.details, technical);
  }
  QCOMPARE(m.icon, QMessageBox::Critical);
  QCOMPARE(m.title, kMsgTitle);
  QVERIFY(!f->isPreparing());
  QVERIFY(!f->findChild<QPushButton*>(QStringLiteral("cmdUpload"))->isEnabled());
  QCOMPARE(f->findChild<QTableWidget*>(QStringLiteral("GridRefencias"))->rowCount(), 1);
  QVERIFY(f->isVisible());

  QCOMPARE(registryRows(registry()), stored);
  if (fault == QLatin1String("modelo") || fault == QLatin1String("ferramenta"))
    QCOMPARE(bytesOf(app_->file(QStringLiteral("zide.db"))), earlierWork);
  if (fault == QLatin1String("para")) {
    // The tool that never ended was ended.
    const qint64 pid = bytesOf(pidFile).trimmed().toLongLong();
    QVERIFY(pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 5000);
  }
  if (fault != QLatin1String("trava") && fault != QLatin1String("para") && fault != QLatin1String("grande")) {
    // The engine never got to the file, or refused it before writing.
    QCOMPARE(bytesOf(gdb), gdbBefore);
    return;
  }
  // The engine keeps its counters in the declaration's header, so a read changes a few bytes (as
  // the state's own program does); what counts is that the exports killed halfway left the
  // declaration whole: with the real tool the same file now gives every reference.
  QVERIFY(QFile::remove(tool));
  QVERIFY(QFile::link(realTool, tool));
  rec_->clear();
  finished.clear();
  QVERIFY(f->chooseFile(QStringLiteral("ZIDE.GDB")));
  QVERIFY(finished.count() > 0 || finished.wait(60000));
  QVERIFY2(rec_->texts() == QStringList{kCloseZide}, qPrintable(rec_->texts().join(" | ")));
  QCOMPARE(f->findChild<QTableWidget*>(QStringLiteral("GridRefencias"))->rowCount(), 3);
  QVERIFY(f->findChild<QPushButton*>(QStringLiteral("cmdUpload"))->isEnabled());
  QCOMPARE(f->lastIntake().failedStatements, 0);
}

// ---- Certificates ----

void TstFaultMatrix::truncatedCertificateImported_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("kind");
  QTest::newRow("certificado A1 (.pfx) cortado ao meio") << "pfx";
  QTest::newRow("certificado .cer cortado ao meio") << "cer";
  QTest::newRow("certificado .pem cortado ao meio") << "pem";
  // clang-format on
}

// A truncated file brought in with "Importar certificado...": the message, and the store unchanged.
void TstFaultMatrix::truncatedCertificateImported() {
  QFETCH(QString, kind);
  const TestCert kept = MakeTestCert({QStringLiteral("ESCRITORIO ANTIGO:12345678909")});
  QCOMPARE(CertificateStore::importFile(workFile("contador.cer", kept.der)).status,
           CertificateStore::ImportStatus::Added);
  const auto storeBefore = folderContents(store_->path());
  QCOMPARE(storeBefore.size(), 1);

  const TestCert company = MakeTestCert({QStringLiteral("PADARIA:52601815000120")});
  const QByteArray whole = kind == QLatin1String("pfx")   ? MakePkcs12(company, "1234", false)
                           : kind == QLatin1String("cer") ? company.der
                                                          : company.certPem;
  const QString path = workFile("cortado." + kind, whole.left(whole.size() / 2));
  const QByteArray fileBefore = bytesOf(path);

  CertificateDialog dialog(nullptr, QStringLiteral("Selecione o Certificado Digital (e-CNPJ)"),
                           QStringLiteral("Escolha o certificado"));
  auto* tree = dialog.findChild<QTreeWidget*>(QStringLiteral("lstCertificados"));
  QCOMPARE(tree->topLevelItemCount(), 1);
  rec_->files.enqueue(path);
  if (kind == QLatin1String("pfx")) rec_->passwords.enqueue(QStringLiteral("1234"));
  dialog.importar();
  QCOMPARE(rec_->texts(), QStringList{ComponentFailureText()});
  QCOMPARE(tree->topLevelItemCount(), 1);
  QCOMPARE(dialog.certificates().value(0).der, kept.der);

  QCOMPARE(folderContents(store_->path()), storeBefore);
  QCOMPARE(bytesOf(path), fileBefore);
}

void TstFaultMatrix::truncatedCertificateInTheStore_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("kind");
  QTest::newRow("certificado cortado na pasta de certificados") << "cortado";
  QTest::newRow("arquivo que não é certificado na pasta")       << "lixo";
  // clang-format on
}

// A file of the store cut short (a disk fault, a copy interrupted) or that is no certificate at all:
// the dialog names it and offers the others; the key retrieval goes on with the one chosen. Nothing
// in the store or the registry changes.
void TstFaultMatrix::truncatedCertificateInTheStore() {
  QFETCH(QString, kind);
  const TestCert kept = MakeTestCert({QStringLiteral("ESCRITORIO ANTIGO:12345678909")});
  writeFile(QDir(store_->path()).filePath("contador.cer"), kept.der);
  const TestCert company = MakeTestCert({QStringLiteral("PADARIA:52601815000120")});
  const QString bad = QDir(store_->path()).filePath(kind == QLatin1String("lixo") ? "leia-me.cer" : "padaria.cer");
  writeFile(bad, kind == QLatin1String("lixo") ? QByteArray("isto não é um certificado")
                                               : company.der.left(company.der.size() / 2));
  const auto storeBefore = folderContents(store_->path());
  const QStringList stored = registryRows(registry());
  CannedServer server;
  server.answer(CannedServer::envelope(QStringLiteral("Transferencia.ecnpj"),
                                       KeyReturnText(QDateTime::currentDateTime(), 'N', QStringLiteral("NOVA1234"))));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));

  rec_.reset();
  DialogChooser person;
  QStringList skippedShown;
  person.pick = [&](const CertificateInfo& c) { return c.der == kept.der; };
  person.whileOpen = [&](CertificateDialog& d) {
    auto* list = d.findChild<QListWidget*>(QStringLiteral("lstIgnorados"));
    for (int i = 0; i < list->count(); ++i) skippedShown << list->item(i)->text();
    QVERIFY(d.findChild<QPushButton*>(QStringLiteral("cmdImportar"))->isEnabled());
  };
  auto* w = Forms::get<FrmCriaContribuinte>();
  w->show();
  w->txtIE()->setText(QStringLiteral("0908301661392"));
  w->txtRazaoSocial()->setText(QStringLiteral("Padaria São José Ltda"));
  w->txtCNPJ()->setText(QStringLiteral("52.601.815/0001-20"));
  w->txtCNAE()->setText(QStringLiteral("2486-8/54"));
  w->chave()->setText(QStringLiteral("ANTIGA"));
  w->Command1_Click();
  QVERIFY2(person.messages.isEmpty(), qPrintable(person.texts().join('|')));
  QCOMPARE(person.certificateDialogs.size(), 1);
  QCOMPARE(skippedShown.size(), 1);
  QVERIFY2(skippedShown[0].contains(bad) && skippedShown[0].contains(QStringLiteral("não é um certificado legível")),
           qPrintable(skippedShown[0]));
  QCOMPARE(server.requests.size(), 1);
  QCOMPARE(w->chave()->text(), QStringLiteral("NOVA1234"));

  QCOMPARE(folderContents(store_->path()), storeBefore);
  QCOMPARE(registryRows(registry()), stored);
}

// The token pulled out while the dialog is open, after its certificate was listed: the certificate
// is public and was read when listed, so the routine goes on with it; the next listing simply no
// longer shows the token, without any fault.
void TstFaultMatrix::tokenRemovedBeforeTheChoice() {
  QTemporaryDir hsmDir;
  SoftHsm hsm(hsmDir.path());
  const TestCert company = MakeTestCert({QStringLiteral("PADARIA:52601815000120")});
  QVERIFY2(hsm.initToken(QStringLiteral("TOKEN A3")), qPrintable(hsm.log));
  QVERIFY2(hsm.writeCertificate(QStringLiteral("TOKEN A3"), company.der, QStringLiteral("01")), qPrintable(hsm.log));
  qputenv("ZIDE_PKCS11_MODULES", SoftHsm::module().toLocal8Bit());
  const TestCert kept = MakeTestCert({QStringLiteral("ESCRITORIO ANTIGO:12345678909")});
  writeFile(QDir(store_->path()).filePath("contador.cer"), kept.der);
  const QStringList stored = registryRows(registry());
  CannedServer server;
  server.answer(CannedServer::envelope(QStringLiteral("Transferencia.ecnpj"),
                                       KeyReturnText(QDateTime::currentDateTime(), 'S', QStringLiteral("TOKN5678"))));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));

  rec_.reset();
  DialogChooser person;
  CertificateListing afterRemoval;
  person.pick = [](const CertificateInfo& c) { return c.origin == CertificateOrigin::Token; };
  person.whileOpen = [&](CertificateDialog& d) {
    QCOMPARE(d.certificates().size(), 2);
    QVERIFY2(hsm.removeToken(QStringLiteral("TOKEN A3")), qPrintable(hsm.log));
    afterRemoval = CertificateSources::listAll();
  };
  auto* w = Forms::get<FrmCriaContribuinte>();
  w->show();
  w->txtIE()->setText(QStringLiteral("0908301661392"));
  w->txtRazaoSocial()->setText(QStringLiteral("Padaria São José Ltda"));
  w->txtCNPJ()->setText(QStringLiteral("52.601.815/0001-20"));
  w->txtCNAE()->setText(QStringLiteral("2486-8/54"));
  w->Command1_Click();
  QVERIFY2(person.messages.isEmpty(), qPrintable(person.texts().join('|')));
  QCOMPARE(w->chave()->text(), QStringLiteral("TOKN5678"));
  QVERIFY(w->flagOptanteSimples()->isChecked());
  QCOMPARE(afterRemoval.certificates.size(), 1);
  QCOMPARE(afterRemoval.certificates[0].der, kept.der);
  QVERIFY(afterRemoval.skipped.isEmpty());
  QCOMPARE(registryRows(registry()), stored);
}

// A browser's database held by another program. While it only reads (a running browser), the
// certificates are listed; while it writes (an exclusive lock), that database is named as locked,
// within seconds, and the other sources are still offered; once free it is listed again.
void TstFaultMatrix::certificateSourcesThatNeverEnd_data() {
  // clang-format off
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("reason");  // what the listing says of the bad source; empty: nothing
  QTest::newRow("FIFO na pasta de certificados")      << "fifo"     << "não é um arquivo comum";
  QTest::newRow("atalho para /dev/zero na pasta")     << "zero"     << "não é um arquivo comum";
  QTest::newRow("arquivo de 64 MiB na pasta")         << "grande"   << "arquivo grande demais";
  QTest::newRow("FIFO cert9.db num perfil")           << "cert9"    << "cert9.db não é um arquivo comum";
  QTest::newRow("FIFO profiles.ini do Firefox")       << "profiles" << "";
  // clang-format on
}

// A source that would never end (a FIFO with no writer, an endless device, a huge file) among the
// certificates: `zide-cli certificados` ends at once, names the source it skipped and lists the
// good certificate beside it.
void TstFaultMatrix::certificateSourcesThatNeverEnd() {
  QFETCH(QString, kind);
  QFETCH(QString, reason);
  const TestCert good = MakeTestCert({QStringLiteral("ESCRITORIO BOM:12345678909")});
  writeFile(store_->filePath(QStringLiteral("bom.cer")), good.der);
  QTemporaryDir home;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), home.path());
  QString bad = store_->filePath(QStringLiteral("ruim.cer"));
  if (kind == QLatin1String("fifo")) {
    QCOMPARE(::mkfifo(QFile::encodeName(bad).constData(), 0600), 0);
  } else if (kind == QLatin1String("zero")) {
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), bad));
  } else if (kind == QLatin1String("grande")) {
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(64) << 20));  // sparse: no disk used
  } else {
    // The browser side: a profile whose cert9.db is a FIFO, or a profiles.ini that is one.
    const QString firefox = home.filePath(QStringLiteral(".mozilla/firefox"));
    QVERIFY(QDir().mkpath(firefox + QStringLiteral("/perfil")));
    bad = kind == QLatin1String("cert9") ? firefox + QStringLiteral("/perfil") : firefox + "/profiles.ini";
    if (kind == QLatin1String("cert9")) {
      writeFile(firefox + QStringLiteral("/profiles.ini"), "[Profile0]\nPath=perfil\nIsRelative=1\n");
      QCOMPARE(::mkfifo(QFile::encodeName(bad + QStringLiteral("/cert9.db")).constData(), 0600), 0);
    } else {
      QCOMPARE(::mkfifo(QFile::encodeName(bad).constData(), 0600), 0);
    }
    env.remove(QStringLiteral("ZIDE_NSS_DBS"));
  }
  QProcess cli;
  cli.setProcessEnvironment(env);
  cli.start(builtProgram(QStringLiteral("zide-cli")), {QStringLiteral("certificados")});
  const bool ended = cli.waitForFinished(30000);
  if (!ended) cli.kill();
  QVERIFY2(ended, "zide-cli certificados never ended");
  QCOMPARE(cli.exitCode(), 0);
  QVERIFY(QString::fromUtf8(cli.readAllStandardOutput()).contains(QLatin1String("ESCRITORIO BOM")));
  const QString err = QString::fromUtf8(cli.readAllStandardError());
  if (reason.isEmpty()) QVERIFY2(!err.contains(QLatin1String("profiles.ini")), qPrintable(err));
  else QVERIFY2(err.contains(bad) && err.contains(reason), qPrintable(err));
}

void TstFaultMatrix::pkcs12WithHugeIterationCount_data() {
  // clang-format off
  QTest::addColumn<QString>("iterations");
  QTest::addColumn<QStringList>("options");  // of openssl pkcs12 -export, besides -iter
  QTest::addColumn<bool>("refused");
  QTest::newRow("chave com 10000001 iterações") << "10000001" << QStringList{"-certpbe", "NONE", "-nomaciter"}            << true;
  QTest::newRow("MAC com 10000001 iterações")   << "10000001" << QStringList{"-certpbe", "NONE", "-keypbe", "NONE"}     << true;
  QTest::newRow("chave com 2000000 iterações")  << "2000000"  << QStringList{"-certpbe", "NONE", "-nomaciter"}            << false;
  // clang-format on
}

// An A1 file whose iteration count would hold the program for minutes is refused with a message,
// nothing added to the store; one below the limit is imported off the window's thread, the dialog
// disabled and still handling its events meanwhile.
void TstFaultMatrix::pkcs12WithHugeIterationCount() {
  QFETCH(QString, iterations);
  QFETCH(QStringList, options);
  QFETCH(bool, refused);
  const TestCert c = MakeTestCert({QStringLiteral("EMPRESA A1:11444777000161")});
  const QString cert = workFile(QStringLiteral("a1.crt"), c.certPem);
  const QString key = workFile(QStringLiteral("a1.key"), c.keyPem);
  const QString pfx = work_.filePath(QStringLiteral("iteracoes.pfx"));
  QString log;
  // Made by OpenSSL's own tool.
  QVERIFY2(RunTool(QStringLiteral("openssl"),
                   QStringList{"pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pfx, "-passout", "pass:segredo",
                               "-iter", iterations} +
                       options,
                   &log),
           qPrintable(log));
  const auto storeBefore = folderContents(store_->path());
  CertificateDialog dialog(nullptr, QStringLiteral("Certificado"), QStringLiteral("Escolha"));
  rec_->files.enqueue(pfx);
  rec_->passwords.enqueue(QStringLiteral("segredo"));
  int disabledTicks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &dialog, [&] { disabledTicks += dialog.isEnabled() ? 0 : 1; });
  tick.start(0);
  dialog.importar();
  tick.stop();
  QVERIFY(dialog.isEnabled());
  if (!refused) {
    QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
    QCOMPARE(folderContents(store_->path()).size(), storeBefore.size() + 1);
    QVERIFY2(disabledTicks > 0, "the window's events waited for the import");
    return;
  }
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY2(rec_->messages[0].text.startsWith(QStringLiteral("O certificado não foi importado: o arquivo pede ") +
                                             iterations + QStringLiteral(" iterações")),
           qPrintable(rec_->messages[0].text));
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QCOMPARE(folderContents(store_->path()), storeBefore);
}

void TstFaultMatrix::browserDatabaseHeldByAnotherProgram() {
  const QString profile = work_.filePath(QStringLiteral("firefox-perfil"));
  QDir(profile).removeRecursively();
  const TestCert browser = MakeTestCert({QStringLiteral("ESCRITORIO NAVEGADOR:12345678909")});
  QString log;
  QVERIFY2(MakeNssDatabase(profile, {browser.certPem}, &log), qPrintable(log));
  qputenv("ZIDE_NSS_DBS", profile.toLocal8Bit());
  const TestCert kept = MakeTestCert({QStringLiteral("PADARIA:52601815000120")});
  writeFile(QDir(store_->path()).filePath("padaria.cer"), kept.der);
  const QString certDb = QDir(profile).filePath(QStringLiteral("cert9.db"));
  const QByteArray dbBefore = bytesOf(certDb);

  {
    HeldDatabase reader;
    QVERIFY2(reader.hold(certDb, false), qPrintable(reader.errors()));
    const CertificateListing l = CertificateSources::listAll();
    QCOMPARE(l.certificates.size(), 2);
    QVERIFY(l.skipped.isEmpty());
    QVERIFY(reader.release());
  }

  HeldDatabase writer;
  QVERIFY2(writer.hold(certDb, true), qPrintable(writer.errors()));
  QElapsedTimer clock;
  clock.start();
  CertificateDialog dialog(nullptr, QStringLiteral("Selecione o Certificado Digital (e-CNPJ)"),
                           QStringLiteral("Escolha o certificado"));
  QVERIFY2(clock.elapsed() < 15000, "the wait for the locked database must end");
  QCOMPARE(dialog.certificates().size(), 1);
  QCOMPARE(dialog.certificates()[0].der, kept.der);
  QCOMPARE(dialog.skipped().size(), 1);
  QCOMPARE(dialog.skipped()[0].where, profile);
  QVERIFY2(dialog.skipped()[0].reason.contains(QStringLiteral("bloqueado por outro programa")),
           qPrintable(dialog.skipped()[0].reason));
  auto* list = dialog.findChild<QListWidget*>(QStringLiteral("lstIgnorados"));
  QCOMPARE(list->count(), 1);
  QVERIFY(rec_->messages.isEmpty());

  QVERIFY2(writer.release(), qPrintable(writer.errors()));
  dialog.reload();
  QCOMPARE(dialog.certificates().size(), 2);
  QVERIFY(dialog.skipped().isEmpty());
  QCOMPARE(bytesOf(certDb), dbBefore);
}

// ---- NovaGIA import ----

void TstFaultMatrix::novaGiaFileNotAccess_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("kind");
  QTest::newRow("arquivo de texto") << "texto";
  QTest::newRow("arquivo vazio") << "vazio";
  QTest::newRow("PDF com nome .mdb") << "pdf";
  QTest::newRow("o próprio diziz.db do programa") << "registro";
  QTest::newRow("cabeçalho do Access e o resto lixo") << "cabecalho";
  // Files on which the Access library itself crashes, loops forever or reads out of bounds.
  QTest::newRow("Access que derruba a biblioteca (null_map.mdb)") << "hostile/null_map.mdb";
  QTest::newRow("Access que a prende para sempre (hang.mdb)") << "hostile/hang.mdb";
  QTest::newRow("Access com catálogo fora dos limites (overread_catalog.mdb)") << "hostile/overread_catalog.mdb";
  QTest::newRow("Access com leitura fora dos limites (overread2.mdb)") << "hostile/overread2.mdb";
  // clang-format on
}

// A file that is not an Access export: refused at "Carregar Dados" and at "Importar", before any
// certificate; the file and the registry untouched.
void TstFaultMatrix::novaGiaFileNotAccess() {
  QFETCH(QString, kind);
  QString path;
  if (kind == QLatin1String("texto")) {
    path = workFile("empresas.mdb", "IE;RazaoSocial;CNPJ;CNAE\r\n0908301661392;Padaria;52601815000120;2486854\r\n");
  } else if (kind == QLatin1String("vazio")) {
    path = workFile("empresas.mdb", QByteArray());
  } else if (kind == QLatin1String("pdf")) {
    path = workFile("empresas.mdb", "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n");
  } else if (kind == QLatin1String("registro")) {
    path = registry();
  } else if (kind.startsWith(QLatin1String("hostile/"))) {
    path = workFile("empresas.mdb", bytesOf(testData(kind)));
  } else {
    const QByteArray sample = bytesOf(testData(QStringLiteral("import/novagia_3empresas.mdb")));
    QVERIFY(sample.size() > 8192);
    path = workFile("empresas.mdb", sample.left(4096) + randomBytes(sample.size() - 4096, 4096));
  }
  const QByteArray before = bytesOf(path);
  const QStringList stored = registryRows(registry());

  auto* w = Forms::get<ImportarEmpresas>();
  w->show();
  rec_->files.enqueue(path);
  w->Command2_Click();  // Selecionar Arquivo
  QCOMPARE(w->Text1()->text(), path);
  w->Command3_Click();  // Carregar Dados
  QCOMPARE(rec_->texts(), QStringList{kNotAccess});
  QCOMPARE(rec_->messages[0].title, kMsgTitle);
  QVERIFY(!w->MSFlexGrid1()->isVisibleTo(w));
  w->Command1_Click();  // Importar
  QCOMPARE(rec_->texts(), (QStringList{kNotAccess, kNotAccess}));
  QVERIFY(rec_->certificateDialogs.isEmpty());

  QCOMPARE(bytesOf(path), before);
  QCOMPARE(registryRows(registry()), stored);
  // The window goes on working: a sound export loads.
  rec_->clear();
  w->Text1()->setText(testData(QStringLiteral("import/novagia_3empresas.mdb")));
  w->Command3_Click();
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
  QCOMPARE(w->MSFlexGrid1()->rowCount(), 3);
}

// ---- The machine's other users ----

// Another user made the export tool's old lock folder ($TMPDIR/zide-firebird-<uid>) first, open to
// all or as their own: the intake still lists the declaration's references and never uses it.
void TstFaultMatrix::engineLockFolderTakenByAnotherUser() {
  QTemporaryDir tmp;
  const QString taken = QStringLiteral("%1/zide-firebird-%2").arg(tmp.path()).arg(geteuid());
  QVERIFY(QDir().mkdir(taken));
  QCOMPARE(::chmod(taken.toLocal8Bit().constData(), 0777), 0);
  if (geteuid() == 0) QCOMPARE(::chown(taken.toLocal8Bit().constData(), 65534, 65534), 0);
  const QByteArray oldTmp = qgetenv("TMPDIR"), oldLock = qgetenv("FIREBIRD_LOCK"), oldRun = qgetenv("XDG_RUNTIME_DIR");
  qputenv("TMPDIR", tmp.path().toLocal8Bit());
  qunsetenv("FIREBIRD_LOCK");
  qunsetenv("XDG_RUNTIME_DIR");
  auto restore = qScopeGuard([&] {
    qputenv("TMPDIR", oldTmp);
    if (oldTmp.isEmpty()) qunsetenv("TMPDIR");
    qputenv("FIREBIRD_LOCK", oldLock);
    if (!oldRun.isEmpty()) qputenv("XDG_RUNTIME_DIR", oldRun);
  });

  QVERIFY(QFile::copy(builtProgram(QStringLiteral("zide_limpo.db")), app_->file(QStringLiteral("zide_limpo.db"))));
  // Helpers run only from the installation: the built one stands in for it.
  AppFolder::setHelperFolderForTests(QFileInfo(builtProgram(QStringLiteral("fbexport"))).absolutePath());
  auto helpers = qScopeGuard([] { AppFolder::setHelperFolderForTests(QString()); });
  const QString folder = app_->file(QStringLiteral("declaracoes"));
  QVERIFY(QDir().mkpath(folder));
  writeFile(folder + QStringLiteral("/ZIDE.GDB"), bytesOf(declaration_));

  Principal* p = mainWindow();
  p->setEnabled(false);
  FrmUpload* f = Forms::get<FrmUpload>();
  f->show();
  f->setFolder(folder);
  QSignalSpy finished(f, &FrmUpload::intakeFinished);
  QVERIFY(f->chooseFile(QStringLiteral("ZIDE.GDB")));
  QVERIFY(finished.count() > 0 || finished.wait(120000));
  QVERIFY2(rec_->texts() == QStringList{kCloseZide}, qPrintable(rec_->texts().join(" | ")));
  QCOMPARE(f->findChild<QTableWidget*>(QStringLiteral("GridRefencias"))->rowCount(), 3);
  QVERIFY(f->findChild<QPushButton*>(QStringLiteral("cmdUpload"))->isEnabled());
  // The taken folder got nothing; the runs' own folders are gone.
  QCOMPARE(QDir(taken).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
  QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
           QStringList{QFileInfo(taken).fileName()});
}

// Every user of the machine can read the command lines of the others: zide-cli takes the key from
// standard input or from the registry, and it never shows in its command line.
void TstFaultMatrix::accessKeyOutOfTheProcessList() {
  SandboxServer server({"--contribuinte", kIE + ":" + kKey + ":11.222.333/0001-81"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));

  QProcess cli;
  cli.start(builtProgram(QStringLiteral("zide-cli")), {QStringLiteral("transmissoes"), kIE, QStringLiteral("-")});
  QVERIFY(cli.waitForStarted(10000));
  // While it waits for the key, its command line is what anyone sees (once the new program is in place:
  // right after the fork the process still shows its parent's).
  QByteArray seen;
  QTRY_VERIFY_WITH_TIMEOUT(
      (seen = bytesOf(QStringLiteral("/proc/%1/cmdline").arg(cli.processId()))).contains("transmissoes"), 5000);
  QVERIFY2(seen.contains(kIE.toLatin1()), seen.constData());
  QVERIFY(!seen.contains(kKey.toLatin1()));
  cli.write(kKey.toLatin1() + '\n');
  cli.closeWriteChannel();
  QVERIFY(cli.waitForFinished(30000));
  QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());

  // Only the IE: the key of the registry (seeded with this company).
  cli.start(builtProgram(QStringLiteral("zide-cli")), {QStringLiteral("transmissoes"), kIE});
  QVERIFY(cli.waitForFinished(30000));
  QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
  QVERIFY(cli.readAllStandardOutput().contains("Ano de trabalho"));
}

// The server is busy: all its connections are taken (or its memory for requests), so it answers
// HTTP 503 at once. The refresh reports the server unavailable and keeps what was shown.
void TstFaultMatrix::serverBusy() {
  SandboxServer server({"--contribuinte", kIE + ":" + kKey + ":11.222.333/0001-81", "--max-conexoes", "1"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  Principal* p = mainWindow();
  p->RecebeDadosServer();
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
  auto* grid = p->findChild<QTableWidget*>(QStringLiteral("GridTransmissoes"));
  const int rows = grid->rowCount();

  QTcpSocket idle;  // takes the only place
  idle.connectToHost(QHostAddress::LocalHost, server.port());
  QVERIFY(idle.waitForConnected(5000));
  QTest::qWait(200);
  const QStringList stored = registryRows(registry());
  p->RecebeDadosServer();
  QCOMPARE(rec_->texts(), QStringList{kDown});
  QCOMPARE(grid->rowCount(), rows);
  QCOMPARE(p->selectedChave(), kKey);
  QCOMPARE(registryRows(registry()), stored);

  // Once the place is free again (the server notices the hang-up on its own time), it lists.
  idle.abort();
  bool listed = false;
  for (int i = 0; i < 50 && !listed; ++i) {
    rec_->clear();
    p->RecebeDadosServer();
    listed = rec_->messages.isEmpty();
    if (!listed) QTest::qWait(100);
  }
  QVERIFY(listed);
  QCOMPARE(grid->rowCount(), rows);
}

// A FLOAT at either end of its range, as the export tool prints it ("3.4028235e+38", a little
// past the largest float in decimal), reaches both working databases: no row is lost.
void TstFaultMatrix::floatAtTheLimitOfItsRange() {
  const QString exportFile = workFile(QStringLiteral("medidas.txt"),
                                      "INSERT INTO MEDIDAS (ID, F) VALUES (1, 3.4028235e+38)\r\n"
                                      "INSERT INTO MEDIDAS (ID, F) VALUES (2, -3.4028235e+38)\r\n");
  DbConnection db(work_.filePath(QStringLiteral("medidas.db")), true,
                  QStringLiteral("CREATE TABLE MEDIDAS (ID INTEGER, F FLOAT)"));
  const QString mdb = work_.filePath(QStringLiteral("medidas.mdb"));
  Intake::Result outcome;
  {
    jet::JetWriter access(mdb);
    Intake::loadTable(db, QStringLiteral("MEDIDAS"), exportFile, outcome, &access);
    access.finish();
  }
  QCOMPARE(outcome.failedStatements, 0);
  QCOMPARE(outcome.tables.value(0).lost, 0);
  QCOMPARE(db.query(QStringLiteral("SELECT F FROM MEDIDAS")).size(), 2);
  const QJsonArray rows = mdbReaderDump(mdb, {"MEDIDAS"})["data"].toObject()["MEDIDAS"].toObject()["rows"].toArray();
  QCOMPARE(rows.size(), 2);
  const float max = std::numeric_limits<float>::max();
  QCOMPARE(float(rows[0].toArray()[1].toDouble()), max);
  QCOMPARE(float(rows[1].toArray()[1].toDouble()), -max);
}

QTEST_MAIN(TstFaultMatrix)
#include "tst_faultmatrix.moc"
