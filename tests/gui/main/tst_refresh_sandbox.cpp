#include <QApplication>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

#include "gui/main/principal.h"
#include "registry/session.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/testenv.h"

// The refresh against the sandbox municipality, through the main window and through zide-cli.
namespace {
const char* kIE = "0623079040081";
const char* kKey = "DEMO1234";

void addTransmission(SandboxServer& s, const QString& ref, const QString& prot, int status) {
  QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "sandbox-writer");
  {
    db.setDatabaseName(s.dataFile());
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.prepare(
        "insert into transmissao (protocolo, ie, referencia, data, status, adicionado, tipo, contador, arquivo, "
        "tamanho) "
        "values (?, ?, ?, '05/12/2026 10:00:00', ?, '0,00', 'ZIDE', '123.456.789-09', 'zide.gdb', 1)"));
    q.addBindValue(prot);
    q.addBindValue(kIE);
    q.addBindValue(ref);
    q.addBindValue(status);
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
  }
  db.close();
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase("sandbox-writer");
}

struct CliRun {
  int code;
  QString out, err;
};
CliRun cli(const QString& home, const QStringList& args) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("ZIDE_HOME", home);
  p.setProcessEnvironment(env);
  p.start(builtProgram("zide-cli"), QStringList{"transmissoes"} + args);
  p.waitForFinished(30000);
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}
}  // namespace

class TstRefreshSandbox : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() { Forms::unloadAll(); }

  void selectingListsTheTransmissions() {
    TestAppFolder app;
    Recorder rec;
    SandboxServer server({"--contribuinte", QString(kIE) + ":" + kKey + ":11.222.333/0001-81", "--ano-trabalho",
                          "2026/2027", "--data-servidor", "07/12/2026 15:30:00"});
    QVERIFY2(server.isRunning(), qPrintable(server.log()));
    app.writeSettings("127.0.0.1", QString::number(server.port()));
    addTransmission(server, "10/2026", "2026000001", 1);
    addTransmission(server, "11 / 2026", "2026000002", 1);

    Principal* p = Forms::get<Principal>();
    p->show();
    p->setSelectedTaxpayer(kIE, "Empresa Demo", kKey);
    p->RecebeDadosServer();
    QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join(" | ")));
    auto* grid = p->findChild<QTableWidget*>("GridTransmissoes");
    QCOMPARE(grid->rowCount(), 3);
    QCOMPARE(grid->item(1, 2)->text(), QString("2026000001"));
    QCOMPARE(Session::current().workingYear(), QString("2026/2027"));
    QCOMPARE(Session::current().serverDate(), QDateTime(QDate(2026, 12, 7), QTime(15, 30)));
    QVERIFY(p->findChild<QLabel*>("lblAtualizado")->isVisible());

    // The receipt of the second row, and the page the sandbox gives for it.
    grid->setCurrentCell(2, 0);
    p->cmd_Impressao_Click();
    QCOMPARE(rec.openedUrls.size(), 1);
    QCOMPARE(rec.openedUrls[0].toString(),
             QString("http://127.0.0.1/protocoloDown.php?IE=%1&key=%2&ref=11/2026").arg(kIE, kKey));

    // A newer version on the server.
    SandboxServer newer({"--contribuinte", QString(kIE) + ":" + kKey + ":11.222.333/0001-81", "--versao", "1.16.02"});
    app.writeSettings("127.0.0.1", QString::number(newer.port()));
    p->RecebeDadosServer();
    QVERIFY(p->findChild<QLabel*>("lblnovaatualizacao")->isVisible());
    QVERIFY(p->findChild<QLabel*>("lblnovaatualizacao")->text().contains("versão 1.16.02"));
    QCOMPARE(p->findChild<QTableWidget*>("GridTransmissoes")->rowCount(), 1);

    // A wrong key: the selection is cleared.
    rec.clear();
    p->setSelectedTaxpayer(kIE, "Empresa Demo", "ERRADA");
    p->RecebeDadosServer();
    QCOMPARE(rec.texts(), QStringList({"Chave inválida"}));
    QCOMPARE(p->selectedIE(), QString());
    QVERIFY(!p->findChild<QGroupBox*>("frmImportacao")->isVisible());
  }

  void detailsOfATransmission() {
    TestAppFolder app;
    Recorder rec;
    SandboxServer server({"--contribuinte", QString(kIE) + ":" + kKey + ":11.222.333/0001-81"});
    QVERIFY2(server.isRunning(), qPrintable(server.log()));
    app.writeSettings("127.0.0.1", QString::number(server.port()));
    addTransmission(server, "09/2026", "2026000003", 2);
    Principal* p = Forms::get<Principal>();
    p->setSelectedTaxpayer(kIE, "Empresa Demo", kKey);
    p->RecebeDadosServer();
    auto* grid = p->findChild<QTableWidget*>("GridTransmissoes");
    grid->setCurrentCell(1, 0);
    p->GridTransmissoes_Click();
    QVERIFY2(rec.messages.isEmpty(), qPrintable(rec.texts().join(" | ")));
    auto* tree = p->findChild<QTreeWidget*>("tvwPessoa");
    QCOMPARE(tree->topLevelItemCount(), 1);
    QVERIFY(tree->topLevelItem(0)->childCount() >= 1);
    QVERIFY(p->protocoloXml().contains("2026000003"));
  }

  void commandLine() {
    TestAppFolder app;
    SandboxServer server({"--contribuinte", QString(kIE) + ":" + kKey + ":11.222.333/0001-81", "--ano-trabalho",
                          "2026/2027", "--data-servidor", "07/12/2026 15:30:00", "--versao", "1.16.02"});
    QVERIFY2(server.isRunning(), qPrintable(server.log()));
    app.writeSettings("127.0.0.1", QString::number(server.port()));
    addTransmission(server, "10/2026", "2026000001", 1);

    CliRun r = cli(app.path(), {kIE, kKey});
    QCOMPARE(r.code, 0);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QString("Data do servidor: 07/12/2026 15:30:00"));
    QCOMPARE(lines[1], QString("Ano de trabalho: 2026/2027"));
    QCOMPARE(lines[2], QString("Nova atualização disponível para download - versão 1.16.02"));
    QCOMPARE(lines[3], QString("10/2026\t05/12/2026 10:00:00\t2026000001\t1\thttp://127.0.0.1/protocoloDown.php?IE=%1"
                               "&key=%2&ref=10/2026")
                           .arg(kIE, kKey));

    r = cli(app.path(), {kIE, kKey, "--formato", "json"});
    QCOMPARE(r.code, 0);
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    QCOMPARE(o["anoTrabalho"].toString(), QString("2026/2027"));
    QCOMPARE(o["atualizado"].toBool(), false);
    QCOMPARE(o["versaoMaisRecente"].toString(), QString("1.16.02"));
    QCOMPARE(o["transmissoes"].toArray().size(), 1);
    QCOMPARE(o["transmissoes"].toArray()[0].toObject()["protocolo"].toString(), QString("2026000001"));

    r = cli(app.path(), {kIE, "ERRADA"});
    QCOMPARE(r.code, 3);
    QCOMPARE(r.err.trimmed(), QString("Chave inválida"));
    // An unknown company: the sandbox answers NAO_AUTORIZADO, which is no list, and the main window
    // calls the server unavailable; the command line says the same.
    r = cli(app.path(), {"0000000000000", kKey});
    QCOMPARE(r.code, 4);
    QCOMPARE(r.err.trimmed(), QString("O Servidor está indisponivel, tente novamente mais tarde."));
    r = cli(app.path(), {kIE});
    QCOMPARE(r.code, 2);
    r = cli(app.path(), {kIE, kKey, "--formato", "xml"});
    QCOMPARE(r.code, 2);

    server.stop();
    r = cli(app.path(), {kIE, kKey});
    QCOMPARE(r.code, 4);
    QCOMPARE(r.err.trimmed(), QString("O Servidor está indisponivel, tente novamente mais tarde."));
    QVERIFY(r.out.isEmpty());
  }
};

QTEST_MAIN(TstRefreshSandbox)
#include "tst_refresh_sandbox.moc"
