#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QTcpServer>
#include <QtTest>

#include "gui/main/principal.h"
#include "gui/registry/frmcontador.h"
#include "registry/localdb.h"
#include "support/cannedserver.h"
#include "support/formdriver.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/testenv.h"

using namespace FormDriver;

namespace {
QList<QSqlRecord> storedAccountant() {
  LocalDatabase::Connection db;
  return db.query("SELECT * FROM tblContador");
}

QLabel* erroMsg(QWidget* f) { return child<QLabel>(f, "erroMsg"); }

// A person with CPF; the name and street carry apostrophes.
void fillPerson(FrmContador* f) {
  child<QRadioButton>(f, "opt_fisica")->click();
  type(f, "txtCNPJCPF", "12345678909");
  type(f, "txtCRC", "MG-012345/O");
  type(f, "txtRazaoSocial", "Joana D'Arc Silva");
  type(f, "txtLogradouro", "Rua d'Água");
  type(f, "txtNumero", "10");
  type(f, "txtComplemento", "sala 2");
  type(f, "txtBairro", "Centro");
  type(f, "txtCidade", "Tavarel");
  type(f, "txtUF", "MG");
  type(f, "txtTelefone", "3134567800");
  type(f, "txtCEP", "35000000");
  type(f, "txtEmail", "joana@contab.com.br");
}

const QStringList kParamNames{"thisCont_cpf_cnpj",     "thisCont_num_crc",      "thisCont_razao_nome",
                              "thisCont_nom_endereco", "thisCont_num_endereco", "thisCont_complemento",
                              "thisCont_nom_bairro",   "thisCont_nom_cidade",   "thisCont_nom_estado",
                              "thisCont_num_telefone", "thisCont_num_cep",      "thisCont_email"};
}  // namespace

class TstContador : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TestAppFolder> app;
  std::unique_ptr<SandboxServer> sandbox;
  std::unique_ptr<Recorder> rec;
  Principal* p = nullptr;

  FrmContador* open() {
    auto* f = Forms::get<FrmContador>();
    f->show();
    return f;
  }
  // How many "Transferencia.contador" calls the sandbox has recorded.
  int calls() { return sandbox->rows("SELECT COUNT(*) AS n FROM contador").value(0).value("n").toInt(); }

 private slots:
  void initTestCase() {
    sandbox = std::make_unique<SandboxServer>();
    QVERIFY2(sandbox->isRunning(), qPrintable(sandbox->log()));
  }
  void init() {
    app = std::make_unique<TestAppFolder>();
    app->writeSettings("127.0.0.1", QString::number(sandbox->port()));
    rec = std::make_unique<Recorder>();
    p = Forms::get<Principal>();
    p->show();
  }
  void cleanup() {
    Forms::unloadAll();
    settle();
    rec.reset();
    app.reset();
  }
  void cleanupTestCase() { sandbox.reset(); }

  void newWindow();
  void saveWithCpf();
  void saveWithCnpjWithoutCrc();
  void crcQuestionNo();
  void eachStopOfOk_data();
  void eachStopOfOk();
  void documentLeaveCheck();
  void storedStateReadBack_data();
  void storedStateReadBack();
  void saveOverStoredReplacesTheRow();
  void removeGivesAnEmptyWindow();
  void cancelSavesNothing();
  void serverDown();
  void replyKinds();
  void localFailureKeepsTheStoredRow();
  void unreadableRegistryOnOpening();
  void stateIsUpperCased();
};

void TstContador::stateIsUpperCased() {
  FrmContador* f = open();
  QLineEdit* uf = child(f, "txtUF");
  uf->setFocus();
  QTest::keyClicks(uf, "mg");
  QCOMPARE(uf->text(), QString("MG"));
}

void TstContador::newWindow() {
  p->setEnabled(false);
  FrmContador* f = open();
  QVERIFY(p->isEnabled());  // the window gives the main window back when it loads
  QCOMPARE(f->objectName(), QString("frmContador"));
  QCOMPARE(f->windowTitle(), QString("Dados do Contador - Prefeitura Municipal de Tavarel"));
  QVERIFY(child<QRadioButton>(f, "opt_juridica")->isChecked());
  QVERIFY(!f->cpfMode());
  QCOMPARE(shown(f, "txtCNPJCPF"), QString("__.___.___/____-__"));
  QCOMPARE(shown(f, "txtTelefone"), QString("(__) ____-____"));
  QCOMPARE(shown(f, "txtCEP"), QString("_____-___"));
  QVERIFY(child(f, "txtCNPJCPF")->isEnabled());
  QCOMPARE(child<QLabel>(f, "Label11")->text(),
           QString("Atenção: Para a transmissão dos documentos será utilizado o certificado dos dados cadastrados do "
                   "contador responsável."));
  // The mode follows the option buttons, told by the mask.
  child<QRadioButton>(f, "opt_fisica")->click();
  QVERIFY(f->cpfMode());
  QCOMPARE(shown(f, "txtCNPJCPF"), QString("___.___.___-__"));
  type(f, "txtCNPJCPF", "123");
  child<QRadioButton>(f, "opt_juridica")->click();
  QVERIFY(!f->cpfMode());
  QCOMPARE(shown(f, "txtCNPJCPF"), QString("__.___.___/____-__"));
  QVERIFY(rec->messages.isEmpty());
}

void TstContador::saveWithCpf() {
  const int before = calls();
  FrmContador* f = open();
  fillPerson(f);
  bool closedFirst = false;
  rec->onMessage = [&](const Recorder::Message&) { closedFirst = !Forms::find<FrmContador>() || !f->isVisible(); };
  click(f, "btnOK");
  QCOMPARE(rec->texts(), QStringList{"Contador cadastrado com sucesso"});
  QCOMPARE(rec->messages[0].icon, QMessageBox::Information);
  QCOMPARE(rec->messages[0].title, kMsgTitle);
  QVERIFY(closedFirst);

  QCOMPARE(calls(), before + 1);
  const auto sent = sandbox->contadorCall(before + 1);
  const QStringList values{
      "123.456.789-09", "MG-012345/O", "Joana D''Arc Silva", "Rua d''Água", "10", "sala 2", "Centro", "Tavarel", "MG",
      "(31) 3456-7800", "35000-000",   "joana@contab.com.br"};
  QCOMPARE(sent.size(), 12);
  for (int i = 0; i < 12; ++i) {
    QCOMPARE(sent[i].first, kParamNames[i]);
    QCOMPARE(sent[i].second, values[i]);
  }

  const auto rows = storedAccountant();
  QCOMPARE(rows.size(), 1);
  const QSqlRecord& r = rows[0];
  QCOMPARE(r.value("cont_cpf_cnpj").toString(), QString("123.456.789-09"));
  QCOMPARE(r.value("cont_num_crc").toString(), QString("MG-012345/O"));
  QCOMPARE(r.value("cont_razao_nome").toString(), QString("Joana D'Arc Silva"));
  QCOMPARE(r.value("cont_nom_endereco").toString(), QString("Rua d'Água"));
  QCOMPARE(r.value("cont_num_predial").toString(), QString("10"));
  QCOMPARE(r.value("cont_dsc_complemento").toString(), QString("sala 2"));
  QCOMPARE(r.value("cont_nom_bairro").toString(), QString("Centro"));
  QCOMPARE(r.value("cont_nom_cidade").toString(), QString("Tavarel"));
  QCOMPARE(r.value("cont_nom_estado").toString(), QString("MG"));
  QCOMPARE(r.value("cont_num_telefone").toString(), QString("(31) 3456-7800"));
  QCOMPARE(r.value("cont_num_cep").toString(), QString("35000-000"));
  QCOMPARE(r.value("cont_email").toString(), QString("joana@contab.com.br"));
  settle();
  QVERIFY(!Forms::find<FrmContador>());
}

void TstContador::saveWithCnpjWithoutCrc() {
  const int before = calls();
  FrmContador* f = open();
  fillPerson(f);
  child<QRadioButton>(f, "opt_juridica")->click();
  type(f, "txtCNPJCPF", "11222333000181");
  type(f, "txtCRC", "   ");
  type(f, "txtRazaoSocial", "Silva & Souza <Contábil> Ltda");
  rec->answers.enqueue(QMessageBox::Yes);
  click(f, "btnOK");
  QCOMPARE(rec->texts(), (QStringList{"Deseja prosseguir sem o CRC?", "Contador cadastrado com sucesso"}));
  QCOMPARE(rec->messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(rec->messages[0].title, kMsgTitle);
  QCOMPARE(calls(), before + 1);
  const auto sent = sandbox->contadorCall(before + 1);
  QCOMPARE(sent.value(0).second, QString("11.222.333/0001-81"));
  QCOMPARE(sent.value(1).second, QString("   "));  // the server hears the box as it was
  // A company name with "&" and "<" reaches the server as typed, not as a broken request.
  QCOMPARE(sent.value(2).second, QString("Silva & Souza <Contábil> Ltda"));
  const auto rows = storedAccountant();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("cont_cpf_cnpj").toString(), QString("11.222.333/0001-81"));
  QCOMPARE(rows[0].value("cont_num_crc").toString(), QString());
  QCOMPARE(rows[0].value("cont_razao_nome").toString(), QString("Silva & Souza <Contábil> Ltda"));
}

void TstContador::crcQuestionNo() {
  const int before = calls();
  FrmContador* f = open();
  fillPerson(f);
  type(f, "txtCRC", "");
  rec->answers.enqueue(QMessageBox::No);
  click(f, "btnOK");
  QCOMPARE(rec->texts(), QStringList{"Deseja prosseguir sem o CRC?"});
  QCOMPARE(erroMsg(f)->text(),
           QString("Você optou por não prosseguir sem o CRC, favor digitar e clicar em OK novamente"));
  QVERIFY(f->isVisible());
  QCOMPARE(storedAccountant().size(), 0);
  // The server heard the click all the same.
  QCOMPARE(calls(), before + 1);
}

void TstContador::eachStopOfOk_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QByteArray>("box");
  QTest::addColumn<QString>("keys");
  QTest::addColumn<QString>("message");
  QTest::newRow("cpf partly") << QByteArray("txtCNPJCPF") << "1234567890" << "Documento CPF Informado incorretamente";
  QTest::newRow("cpf wrong") << QByteArray("txtCNPJCPF") << "12345678900" << "Documento CPF Informado incorretamente";
  QTest::newRow("email 5") << QByteArray("txtEmail") << "a@b.c" << "Favor digitar um e-mail";
  QTest::newRow("name 4") << QByteArray("txtRazaoSocial") << "Joao" << "Favor digitar a Razão Social corretamente";
  QTest::newRow("street") << QByteArray("txtLogradouro") << "" << "Favor digitar o Endereço corretamente";
  QTest::newRow("number") << QByteArray("txtNumero") << "" << "Favor digitar o Número corretamente";
  QTest::newRow("cep partly") << QByteArray("txtCEP") << "3500000" << "Favor digitar o CEP corretamente";
  QTest::newRow("district") << QByteArray("txtBairro") << "  " << "Favor digitar o Bairro corretamente";
  QTest::newRow("city") << QByteArray("txtCidade") << "" << "Favor digitar a Cidade corretamente";
  QTest::newRow("state") << QByteArray("txtUF") << "XX"
                         << "Favor digitar o UF corretamente.  Ex: SP, RJ, PR, MG (em maiúsculo)";
  // clang-format on
}

void TstContador::eachStopOfOk() {
  QFETCH(QByteArray, box);
  QFETCH(QString, keys);
  QFETCH(QString, message);
  const int before = calls();
  FrmContador* f = open();
  fillPerson(f);
  type(f, box.constData(), keys);
  click(f, "btnOK");
  QVERIFY2(rec->messages.isEmpty(), qPrintable(rec->texts().join('|')));
  QCOMPARE(erroMsg(f)->text(), message);
  QVERIFY(f->isVisible());
  QCOMPARE(storedAccountant().size(), 0);
  QCOMPARE(calls(), before + 1);
}

void TstContador::documentLeaveCheck() {
  FrmContador* f = open();
  child<QRadioButton>(f, "opt_fisica")->click();
  type(f, "txtCNPJCPF", "12345678900");
  leave(f, "txtCNPJCPF");
  QCOMPARE(erroMsg(f)->text(), QString("Documento CPF Informado incorretamente"));
  type(f, "txtCNPJCPF", "12345678909");
  leave(f, "txtCNPJCPF");
  QCOMPARE(erroMsg(f)->text(), QString());
  child<QRadioButton>(f, "opt_juridica")->click();
  type(f, "txtCNPJCPF", "11222333000182");
  leave(f, "txtCNPJCPF");
  QCOMPARE(erroMsg(f)->text(), QString("Documento CNPJ Informado incorretamente"));
  type(f, "txtCNPJCPF", "11222333000181");
  leave(f, "txtCNPJCPF");
  QCOMPARE(erroMsg(f)->text(), QString());
  QVERIFY(rec->messages.isEmpty());
}

void TstContador::storedStateReadBack_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("doc");
  QTest::addColumn<bool>("cpf");
  QTest::newRow("cpf") << "123.456.789-09" << true;
  QTest::newRow("cnpj") << "11.222.333/0001-81" << false;
  // clang-format on
}

void TstContador::storedStateReadBack() {
  QFETCH(QString, doc);
  QFETCH(bool, cpf);
  {
    LocalDatabase::Connection db;
    db.exec("Insert into tblContador values (?,?,?,?,?,?,?,?,?,?,?,?)",
            {doc, "CRC1", "Nome D'Ávila", "Rua A", "5", "fundos", "Bairro", "Cidade", "SP", "(11) 2222-3333",
             "01000-000", "x@y.com.br"});
  }
  FrmContador* f = open();
  QCOMPARE(f->cpfMode(), cpf);
  QCOMPARE(child<QRadioButton>(f, "opt_fisica")->isChecked(), cpf);
  QCOMPARE(shown(f, "txtCNPJCPF"), doc);
  QVERIFY(!child(f, "txtCNPJCPF")->isEnabled());
  QVERIFY(!child<QRadioButton>(f, "opt_fisica")->isEnabled());
  QVERIFY(!child<QRadioButton>(f, "opt_juridica")->isEnabled());
  QCOMPARE(shown(f, "txtCRC"), QString("CRC1"));
  QCOMPARE(shown(f, "txtRazaoSocial"), QString("Nome D'Ávila"));
  QCOMPARE(shown(f, "txtLogradouro"), QString("Rua A"));
  QCOMPARE(shown(f, "txtNumero"), QString("5"));
  QCOMPARE(shown(f, "txtComplemento"), QString("fundos"));
  QCOMPARE(shown(f, "txtBairro"), QString("Bairro"));
  QCOMPARE(shown(f, "txtCidade"), QString("Cidade"));
  QCOMPARE(shown(f, "txtUF"), QString("SP"));
  QCOMPARE(shown(f, "txtTelefone"), QString("(11) 2222-3333"));
  QCOMPARE(shown(f, "txtCEP"), QString("01000-000"));
  QCOMPARE(shown(f, "txtEmail"), QString("x@y.com.br"));
  // Read back and saved unchanged, the row comes out the same.
  click(f, "btnOK");
  QCOMPARE(rec->texts(), QStringList{"Contador cadastrado com sucesso"});
  const auto rows = storedAccountant();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("cont_cpf_cnpj").toString(), doc);
  QCOMPARE(rows[0].value("cont_razao_nome").toString(), QString("Nome D'Ávila"));
  QCOMPARE(rows[0].value("cont_num_cep").toString(), QString("01000-000"));
}

void TstContador::saveOverStoredReplacesTheRow() {
  FrmContador* f = open();
  fillPerson(f);
  click(f, "btnOK");
  settle();
  f = open();
  type(f, "txtCidade", "Belo Horizonte");
  rec->clear();
  click(f, "btnOK");
  QCOMPARE(rec->texts(), QStringList{"Contador cadastrado com sucesso"});
  const auto rows = storedAccountant();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("cont_nom_cidade").toString(), QString("Belo Horizonte"));
  QCOMPARE(rows[0].value("cont_cpf_cnpj").toString(), QString("123.456.789-09"));
}

void TstContador::removeGivesAnEmptyWindow() {
  FrmContador* f = open();
  fillPerson(f);
  click(f, "btnOK");
  settle();
  f = open();
  QVERIFY(!child(f, "txtCNPJCPF")->isEnabled());
  // The question comes first, "Não" as its default; answering it keeps everything.
  rec->clear();
  rec->answers.enqueue(QMessageBox::No);
  click(f, "Command2");
  settle();
  QCOMPARE(rec->texts(), QStringList{"Deseja realmente remover os dados do contador?"});
  QCOMPARE(rec->messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(rec->messages[0].defaultButton, QMessageBox::No);
  QCOMPARE(storedAccountant().size(), 1);
  QCOMPARE(Forms::find<FrmContador>(), f);
  rec->answers.enqueue(QMessageBox::Yes);
  click(f, "Command2");
  settle();
  QCOMPARE(storedAccountant().size(), 0);
  FrmContador* fresh = Forms::find<FrmContador>();
  QVERIFY(fresh && fresh != f && fresh->isVisible());
  QVERIFY(child(fresh, "txtCNPJCPF")->isEnabled());
  QVERIFY(child<QRadioButton>(fresh, "opt_fisica")->isEnabled());
  QCOMPARE(shown(fresh, "txtCNPJCPF"), QString("__.___.___/____-__"));
  QCOMPARE(shown(fresh, "txtRazaoSocial"), QString());
  QCOMPARE(rec->texts(), (QStringList{"Deseja realmente remover os dados do contador?",
                                      "Deseja realmente remover os dados do contador?"}));

  // A registry that cannot be written: the message, the window as it was.
  app->write("diziz.db", QByteArray(8192, '\x7f'));
  rec->clear();
  click(fresh, "Command2");
  settle();
  QCOMPARE(rec->texts(), QStringList({"Deseja realmente remover os dados do contador?",
                                      "Não foi possível excluir o contador. Tente novamente mais tarde."}));
  QCOMPARE(rec->messages[1].icon, QMessageBox::NoIcon);
  QCOMPARE(Forms::find<FrmContador>(), fresh);
}

void TstContador::cancelSavesNothing() {
  const int before = calls();
  FrmContador* f = open();
  fillPerson(f);
  click(f, "Command1");
  settle();
  QVERIFY(!Forms::find<FrmContador>());
  QCOMPARE(storedAccountant().size(), 0);
  QCOMPARE(calls(), before);
  QVERIFY(rec->messages.isEmpty());
}

void TstContador::serverDown() {
  QTcpServer probe;
  QVERIFY(probe.listen(QHostAddress::LocalHost));
  const quint16 closedPort = probe.serverPort();
  probe.close();
  app->writeSettings("127.0.0.1", QString::number(closedPort));
  FrmContador* f = open();
  fillPerson(f);
  type(f, "txtCNPJCPF", "12345678900");  // not even checked: nothing runs after the failed exchange
  click(f, "btnOK");
  QCOMPARE(rec->messages.size(), 1);
  QVERIFY(rec->lastText().startsWith("Falha de conexão - Cód 2, \r\nfavor entrar em contato"));
  QVERIFY(rec->lastText().endsWith("O sistema deverá se comunicar com a URL http://www.tavarel.mg.gov.br/"));
  QCOMPARE(rec->messages[0].icon, QMessageBox::Critical);
  QCOMPARE(erroMsg(f)->text(), QString());
  QVERIFY(f->isVisible());
  QCOMPARE(storedAccountant().size(), 0);
}

// Any SOAP reply registers the accountant, even one without a result; a SOAP fault is a refusal
// whose reason follows the usual box.
void TstContador::replyKinds() {
  CannedServer server;
  app->writeSettings("127.0.0.1", QString::number(server.port()));
  const QByteArray head =
      "<?xml version=\"1.0\"?><e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body>";
  server.answer(head +
                "<e:Fault><e:Code><e:Value>e:Receiver</e:Value></e:Code><e:Reason><e:Text xml:lang=\"pt\">"
                "Cadastro suspenso</e:Text></e:Reason></e:Fault></e:Body></e:Envelope>");
  server.answer(head + "<ns1:Transferencia.contadorResponse xmlns:ns1=\"urn:zide\"/></e:Body></e:Envelope>");
  FrmContador* f = open();
  fillPerson(f);
  click(f, "btnOK");
  QCOMPARE(rec->messages.size(), 1);
  QVERIFY(rec->lastText().startsWith("Falha de conexão - Cód 2, \r\n"));
  QVERIFY2(rec->lastText().endsWith(
               "http://www.tavarel.mg.gov.br/\r\n\r\nMotivo informado pelo servidor: Cadastro suspenso"),
           qPrintable(rec->lastText()));
  QCOMPARE(rec->messages[0].icon, QMessageBox::Critical);
  QCOMPARE(storedAccountant().size(), 0);
  QVERIFY(f->isVisible());

  rec->clear();
  click(f, "btnOK");
  QCOMPARE(rec->texts(), QStringList{"Contador cadastrado com sucesso"});
  QCOMPARE(storedAccountant().size(), 1);
  QCOMPARE(server.requests.size(), 2);
}

void TstContador::localFailureKeepsTheStoredRow() {
  {
    LocalDatabase::Connection db;
    db.exec("Insert into tblContador values (?,?,?,?,?,?,?,?,?,?,?,?)",
            {"123.456.789-09", "CRC1", "Nome Antigo", "Rua A", "5", "", "Bairro", "Cidade", "SP", "(11) 2222-3333",
             "01000-000", "x@y.com.br"});
    // Any insert now fails, after the delete has run.
    db.exec("CREATE TRIGGER no_insert BEFORE INSERT ON tblContador BEGIN SELECT RAISE(ABORT, 'disco cheio'); END");
  }
  const int before = calls();
  FrmContador* f = open();
  type(f, "txtRazaoSocial", "Nome Novo");
  click(f, "btnOK");
  QCOMPARE(rec->messages.size(), 1);
  QVERIFY(rec->lastText().startsWith("Falha de conexão - Cód 1, \r\n"));
  QCOMPARE(rec->messages[0].icon, QMessageBox::Critical);
  QVERIFY(f->isVisible());
  QCOMPARE(calls(), before + 1);
  // The old row survives the failed replacement.
  const auto rows = storedAccountant();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("cont_razao_nome").toString(), QString("Nome Antigo"));
}

void TstContador::unreadableRegistryOnOpening() {
  app->write("diziz.db", QByteArray(8192, '\x7f'));
  FrmContador* f = open();
  QCOMPARE(rec->messages.size(), 1);
  QVERIFY(rec->lastText().startsWith("\r\nVB Error # "));
  // Empty and editable, as with no accountant.
  QVERIFY(f->isVisible());
  QVERIFY(child(f, "txtCNPJCPF")->isEnabled());
  QCOMPARE(shown(f, "txtCNPJCPF"), QString("__.___.___/____-__"));
}

QTEST_MAIN(TstContador)
#include "tst_contador.moc"
