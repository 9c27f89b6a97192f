#include <QtTest>

#include "registry/accountantstore.h"
#include "registry/localdb.h"
#include "registry/registrylogic.h"
#include "registry/taxpayerstore.h"
#include "support/testenv.h"

namespace {
ContadorDados complete() {
  ContadorDados d;
  d.cpfCnpj = "123.456.789-09";
  d.crc = "MG-012345/O";
  d.razaoNome = "Maria Contadora";
  d.endereco = "Rua Direita";
  d.numero = "10";
  d.complemento = "sala 2";
  d.bairro = "Centro";
  d.cidade = "Tavarel";
  d.estado = "MG";
  d.telefone = "(31) 3456-7800";
  d.cep = "35000-000";
  d.email = "maria@contab.com.br";
  return d;
}

ContribuinteDados taxpayer() {
  ContribuinteDados d;
  d.ie = "0623079040081";
  d.razaoSocial = "Empresa A";
  d.cnpj = "11.222.333/0001-81";
  d.cnae = "4711-3/02";
  d.chave = "KEY1";
  d.ccm = "123";
  return d;
}

const auto yes = [] { return true; };
}  // namespace

class TstRegistryLogic : public QObject {
  Q_OBJECT
 private slots:
  void documentCheckOnOk_data();
  void documentCheckOnOk();
  void documentCheckOnLeave();
  void fieldChecksInOrder_data();
  void fieldChecksInOrder();
  void crcQuestion();
  void stateList_data();
  void stateList();
  void connectionFailureText();
  void soapParametersInOrderWithApostrophesDoubled();
  void accountantStoreKeepsEveryColumn();
  void taxpayerFieldChecks_data();
  void taxpayerFieldChecks();
  void taxpayerStatementsWithApostrophes();
};

void TstRegistryLogic::documentCheckOnOk_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("cpf");
  QTest::addColumn<QString>("erro");
  const QString cpfErr = "Documento CPF Informado incorretamente", cnpjErr = "Documento CNPJ Informado incorretamente";
  QTest::newRow("cpf complete") << "123.456.789-09" << true << "";
  QTest::newRow("cpf wrong digit") << "123.456.789-08" << true << cpfErr;
  QTest::newRow("cpf partly typed") << "123.456.7__-__" << true << cpfErr;
  QTest::newRow("cpf empty box") << "___.___.___-__" << true << cpfErr;
  QTest::newRow("cnpj complete") << "11.222.333/0001-81" << false << "";
  QTest::newRow("cnpj wrong digit") << "11.222.333/0001-82" << false << cnpjErr;
  QTest::newRow("cnpj 12 digits") << "11.222.333/0001-__" << false << cnpjErr;
  // The missing last digit read as 0 agrees with the check digits: still not a whole document.
  QTest::newRow("cnpj 13 digits") << "11.222.333/1006-4_" << false << cnpjErr;
  QTest::newRow("cnpj empty box") << "__.___.___/____-__" << false << cnpjErr;
  // clang-format on
}

void TstRegistryLogic::documentCheckOnOk() {
  QFETCH(QString, text);
  QFETCH(bool, cpf);
  QFETCH(QString, erro);
  QCOMPARE(ContadorDocumentoOk(text, cpf), erro);
}

void TstRegistryLogic::documentCheckOnLeave() {
  QCOMPARE(ContadorDocumentoSaida("123.456.789-09", true), QString());
  QCOMPARE(ContadorDocumentoSaida("123.456.789-00", true), QString("Documento CPF Informado incorretamente"));
  QCOMPARE(ContadorDocumentoSaida("11.222.333/0001-81", false), QString());
  QCOMPARE(ContadorDocumentoSaida("11.222.333/0001-80", false), QString("Documento CNPJ Informado incorretamente"));
  // The same CPF read as a CNPJ is refused: the mode decides the rule.
  QCOMPARE(ContadorDocumentoSaida("123.456.789-09", false), QString("Documento CNPJ Informado incorretamente"));
}

void TstRegistryLogic::fieldChecksInOrder_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("erro");
  QTest::newRow("complete") << "" << "" << "";
  QTest::newRow("email empty") << "email" << "" << "Favor digitar um e-mail";
  QTest::newRow("email 5") << "email" << "a@b.c" << "Favor digitar um e-mail";
  QTest::newRow("email 6") << "email" << "a@b.co" << "";
  QTest::newRow("email no at") << "email" << "joao.silva.com" << "Favor digitar um e-mail";
  QTest::newRow("email no dot") << "email" << "joao@silva" << "Favor digitar um e-mail";
  QTest::newRow("email no name") << "email" << "@silva.com" << "Favor digitar um e-mail";
  QTest::newRow("email blank") << "email" << "jo ao@silva.com" << "Favor digitar um e-mail";
  QTest::newRow("email two at") << "email" << "jo@ao@silva.com" << "Favor digitar um e-mail";
  QTest::newRow("email dot end") << "email" << "joao@silva." << "Favor digitar um e-mail";
  QTest::newRow("email subdomain") << "email" << "joao@mail.silva.com.br" << "";
  QTest::newRow("name 4") << "razaoNome" << "Joao" << "Favor digitar a Razão Social corretamente";
  QTest::newRow("name 5") << "razaoNome" << "Joana" << "";
  QTest::newRow("cep empty box") << "cep" << "_____-___" << "Favor digitar o CEP corretamente";
  QTest::newRow("cep partly") << "cep" << "35000-00_" << "Favor digitar o CEP corretamente";
  QTest::newRow("district blank") << "bairro" << "   " << "Favor digitar o Bairro corretamente";
  const QString ufErr = "Favor digitar o UF corretamente.  Ex: SP, RJ, PR, MG (em maiúsculo)";
  QTest::newRow("state lower case") << "estado" << "mg" << ufErr;
  QTest::newRow("state unknown") << "estado" << "XX" << ufErr;
  // clang-format on
}

void TstRegistryLogic::fieldChecksInOrder() {
  QFETCH(QString, field);
  QFETCH(QString, value);
  QFETCH(QString, erro);
  ContadorDados d = complete();
  if (field == "email") d.email = value;
  else if (field == "razaoNome") d.razaoNome = value;
  else if (field == "cep") d.cep = value;
  else if (field == "bairro") d.bairro = value;
  else if (field == "estado") d.estado = value;
  int asked = 0;
  QCOMPARE(ContadorCamposErro(d,
                              [&] {
                                ++asked;
                                return true;
                              }),
           erro);
  QCOMPARE(asked, 0);  // the CRC is filled: no question
}

void TstRegistryLogic::crcQuestion() {
  ContadorDados d = complete();
  d.crc = "   ";
  int asked = 0;
  QCOMPARE(ContadorCamposErro(d,
                              [&] {
                                ++asked;
                                return false;
                              }),
           QString("Você optou por não prosseguir sem o CRC, favor digitar e clicar em OK novamente"));
  QCOMPARE(asked, 1);
  QCOMPARE(ContadorCamposErro(d,
                              [&] {
                                ++asked;
                                return true;
                              }),
           QString());
  QCOMPARE(asked, 2);
  QCOMPARE(d.crc, QString());  // blanks are not stored
  // The question comes after the e-mail check and before the name check.
  ContadorDados e = complete();
  e.crc.clear();
  e.email.clear();
  QCOMPARE(ContadorCamposErro(e,
                              [&] {
                                ++asked;
                                return true;
                              }),
           QString("Favor digitar um e-mail"));
  QCOMPARE(asked, 2);
  e = complete();
  e.crc.clear();
  e.razaoNome.clear();
  QCOMPARE(ContadorCamposErro(e,
                              [&] {
                                ++asked;
                                return true;
                              }),
           QString("Favor digitar a Razão Social corretamente"));
  QCOMPARE(asked, 3);
  // The first failing check speaks: the name before the city.
  e = complete();
  e.razaoNome.clear();
  e.cidade.clear();
  QCOMPARE(ContadorCamposErro(e, yes), QString("Favor digitar a Razão Social corretamente"));
}

void TstRegistryLogic::stateList_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("uf");
  QTest::addColumn<bool>("ok");
  for (const char* uf : {"AC", "MG", "SP", "TO", "DF"}) QTest::newRow(uf) << uf << true;
  // Quirks of the substring search that the window keeps: an empty state and a single trailing
  // letter of a code are accepted.
  QTest::newRow("empty") << "" << true;
  QTest::newRow("C") << "C" << true;
  QTest::newRow("lower") << "sp" << false;
  QTest::newRow("three letters") << "MGS" << false;
  QTest::newRow("comma") << "," << false;
  QTest::newRow("pair across codes") << "C,AL" << true;
  // clang-format on
}

void TstRegistryLogic::stateList() {
  QFETCH(QString, uf);
  QFETCH(bool, ok);
  QCOMPARE(ContadorUfAceita(uf), ok);
}

void TstRegistryLogic::connectionFailureText() {
  const QString two = FalhaConexaoTexto(2);
  QVERIFY(
      two.startsWith("Falha de conexão - Cód 2, \r\nfavor entrar em contato com seu administrador de redes para "
                     "verificação de regras no seu firewall ou proxy. \r\n\r\nVerifique também suas configurações "
                     "de antivírus.\r\n\r\nO sistema deverá se comunicar com a URL http://"));
  QVERIFY(two.endsWith('/'));
  QCOMPARE(FalhaConexaoTexto(1), QString(two).replace("Cód 2", "Cód 1"));
}

void TstRegistryLogic::soapParametersInOrderWithApostrophesDoubled() {
  ContadorDados d = complete();
  d.razaoNome = "Joana D'Arc";
  d.endereco = "Rua d'Água";
  d.complemento = "Bloco <A> & B";
  const auto params = ContadorSoapParams(d);
  const QStringList names{"thisCont_cpf_cnpj",     "thisCont_num_crc",      "thisCont_razao_nome",
                          "thisCont_nom_endereco", "thisCont_num_endereco", "thisCont_complemento",
                          "thisCont_nom_bairro",   "thisCont_nom_cidade",   "thisCont_nom_estado",
                          "thisCont_num_telefone", "thisCont_num_cep",      "thisCont_email"};
  QCOMPARE(params.size(), 12);
  for (int i = 0; i < 12; ++i) QCOMPARE(params[i].name, names[i]);
  QCOMPARE(params[0].value, QString("123.456.789-09"));
  QCOMPARE(params[2].value, QString("Joana D''Arc"));
  QCOMPARE(params[3].value, QString("Rua d''Água"));
  QCOMPARE(params[4].value, QString("10"));
  QCOMPARE(params[5].value, QString("Bloco <A> & B"));
  // The request builder escapes it, so the request stays well-formed.
  QVERIFY(BuildSoapBody("Transferencia.contador", params)
              .contains("<thisCont_complemento>Bloco &lt;A&gt; &amp; B</thisCont_complemento>"));
  QCOMPARE(params[11].value, QString("maria@contab.com.br"));
}

void TstRegistryLogic::accountantStoreKeepsEveryColumn() {
  TestAppFolder app;
  ContadorDados d = complete();
  d.razaoNome = "Joana D'Arc";
  d.complemento = "'";
  d.email = "o'neil@contab.com.br";
  d.crc.clear();  // going on without the CRC
  LocalDatabase::Connection db;
  AccountantStore::insert(db, d);
  const auto rows = db.query("SELECT * FROM tblContador");
  QCOMPARE(rows.size(), 1);
  const QList<std::pair<const char*, QString>> stored = {
      {"cont_cpf_cnpj", "123.456.789-09"},     {"cont_razao_nome", "Joana D'Arc"},
      {"cont_nom_endereco", "Rua Direita"},    {"cont_num_predial", "10"},
      {"cont_dsc_complemento", "'"},           {"cont_nom_bairro", "Centro"},
      {"cont_nom_cidade", "Tavarel"},          {"cont_nom_estado", "MG"},
      {"cont_num_telefone", "(31) 3456-7800"}, {"cont_num_cep", "35000-000"},
      {"cont_email", "o'neil@contab.com.br"}};
  for (const auto& [column, value] : stored) QCOMPARE(rows[0].value(column).toString(), value);
  QVERIFY(rows[0].value("cont_num_crc").isNull());

  // Read back field by field, as the window and the certificate routine see it.
  auto fields = [](const ContadorDados& c) {
    return QStringList{c.cpfCnpj, c.crc,    c.razaoNome, c.endereco, c.numero, c.complemento,
                       c.bairro,  c.cidade, c.estado,    c.telefone, c.cep,    c.email};
  };
  const std::optional<ContadorDados> back = AccountantStore::find(db);
  QVERIFY(back);
  QCOMPARE(fields(*back), fields(d));
}

void TstRegistryLogic::taxpayerFieldChecks_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("creation");
  QTest::addColumn<QString>("update");
  QTest::newRow("complete") << "" << "" << "" << "";
  QTest::newRow("ie 12 digits") << "ie" << "062307904008_" << "Inscrição Estadual preenchida incorretamente"
                                << "Inscrição Estadual preenchida incorretamente";
  // Only the update window runs the state's check-digit rule.
  QTest::newRow("ie wrong digit") << "ie" << "0623079040082" << "" << "Inscrição Estadual inválida";
  QTest::newRow("name") << "razaoSocial" << "" << "Razão Social preenchida incorretamente"
                        << "Razão Social preenchida incorretamente";
  QTest::newRow("cnpj partly") << "cnpj" << "11.222.333/0001-__" << "CNPJ preenchido incorretamente"
                               << "CNPJ preenchido incorretamente";
  QTest::newRow("cnpj invalid") << "cnpj" << "11.222.333/0001-82" << "CNPJ preenchido é inválido"
                                << "CNPJ preenchido é inválido";
  QTest::newRow("cnae") << "cnae" << "4711-3/0_" << "CNAE preenchido incorretamente" << "CNAE preenchido incorretamente";
  QTest::newRow("key") << "chave" << "" << "Chave não informada" << "Chave não informada";
  // clang-format on
}

void TstRegistryLogic::taxpayerFieldChecks() {
  QFETCH(QString, field);
  QFETCH(QString, value);
  QFETCH(QString, creation);
  QFETCH(QString, update);
  ContribuinteDados d = taxpayer();
  if (field == "ie") d.ie = value;
  else if (field == "razaoSocial") d.razaoSocial = value;
  else if (field == "cnpj") d.cnpj = value;
  else if (field == "cnae") d.cnae = value;
  else if (field == "chave") d.chave = value;
  QCOMPARE(ContribuinteCampoErro(d, false), creation);
  QCOMPARE(ContribuinteCampoErro(d, true), update);
}

void TstRegistryLogic::taxpayerStatementsWithApostrophes() {
  TestAppFolder app;
  LocalDatabase::Connection db;
  // An apostrophe in every field, and SQL that a quoted statement would have run.
  ContribuinteDados d;
  d.ie = "06'23079040081";
  d.razaoSocial = "Padaria D'Oeste'); delete from tblContribuinte; --";
  d.cnpj = "11.222.333/0001-8'";
  d.cnae = "4711-3/0'";
  d.chave = "K'1";
  d.ccm = "'";
  d.optanteSimples = true;
  TaxpayerStore::insert(db, d);
  ContribuinteDados other = taxpayer();
  TaxpayerStore::insert(db, other);
  QVERIFY(TaxpayerStore::exists(db, d.ie));
  QVERIFY(!TaxpayerStore::exists(db, "06'2307904008"));
  auto same = [](const ContribuinteDados& a, const ContribuinteDados& b) {
    return a.ie == b.ie && a.razaoSocial == b.razaoSocial && a.cnpj == b.cnpj && a.cnae == b.cnae &&
           a.chave == b.chave && a.ccm == b.ccm && a.optanteSimples == b.optanteSimples;
  };
  std::optional<ContribuinteDados> back = TaxpayerStore::find(db, d.ie);
  QVERIFY(back && same(*back, d));
  // The table keeps the yes of the Simples Nacional as -1.
  QCOMPARE(db.query("select OptanteSimples from tblContribuinte where IE = ?", {d.ie})[0].value(0).toInt(), -1);
  // The transmit button's reading: only a stored no is the ZIDE; no value at all is the Simples.
  QVERIFY(TaxpayerStore::regime(db, d.ie) == TaxpayerStore::Regime::SimplesNacional);
  QVERIFY(TaxpayerStore::regime(db, other.ie) == TaxpayerStore::Regime::DebitoCredito);
  db.exec("insert into tblContribuinte (IE, OptanteSimples) values ('1', NULL)");
  QVERIFY(TaxpayerStore::regime(db, "1") == TaxpayerStore::Regime::SimplesNacional);
  QVERIFY(!TaxpayerStore::find(db, "1")->optanteSimples);  // the update window leaves the box unchecked
  QVERIFY(!TaxpayerStore::regime(db, "2"));
  QCOMPARE(TaxpayerStore::remove(db, "1"), 1);
  QList<ContribuinteDados> all = TaxpayerStore::all(db);
  QCOMPARE(all.size(), 2);
  QVERIFY(same(all[0], d) && same(all[1], other));

  // The update rewrites every field but the IE, of that row only.
  d.razaoSocial = "Padaria D'Leste";
  d.cnpj = "11.444.777/0001-61";
  d.cnae = "1'";
  d.chave = "K'2";
  d.ccm = "9'";
  d.optanteSimples = false;
  QCOMPARE(TaxpayerStore::update(db, d), 1);
  back = TaxpayerStore::find(db, d.ie);
  QVERIFY(back && same(*back, d));
  QCOMPARE(db.query("select OptanteSimples from tblContribuinte where IE = ?", {d.ie})[0].value(0).toInt(), 0);
  QVERIFY(same(*TaxpayerStore::find(db, other.ie), other));
  ContribuinteDados missing = d;
  missing.ie = "0000000000000";
  QCOMPARE(TaxpayerStore::update(db, missing), 0);

  QCOMPARE(TaxpayerStore::remove(db, d.ie), 1);
  QVERIFY(!TaxpayerStore::find(db, d.ie));
  QCOMPARE(TaxpayerStore::remove(db, d.ie), 0);
  QCOMPARE(TaxpayerStore::all(db).size(), 1);
}

QTEST_GUILESS_MAIN(TstRegistryLogic)
#include "tst_registrylogic.moc"
