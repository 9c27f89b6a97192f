// The verdict of an upload from the server's answer and the list after it, and the journal that keeps
// every attempt: rows, formats and the table made on first use of an older registry.
#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "registry/deliveryreport.h"
#include "registry/deliverystore.h"
#include "registry/localdb.h"
#include "support/testenv.h"
#include "transmission/delivery.h"
#include "transmission/verdict.h"

using Transmissions::Row;

namespace {
Row row(const QString& ref, const QString& protocolo, const QString& data = "01/03/2025 10:00:00") {
  return {ref, data, protocolo, "1", "0,00"};
}
QList<Verdict::Reference> refs(const QStringList& months) {
  QList<Verdict::Reference> out;
  for (const QString& m : months) out.append({"k" + m, m, false, {}});
  return out;
}
// "01/2025=P" per confirmed reference, "02/2025=-" per unconfirmed one.
QString outcome(const QList<Verdict::Reference>& r) {
  QStringList out;
  for (const Verdict::Reference& x : r)
    out << (x.month.isEmpty() ? "*" : x.month) + "=" + (x.confirmed ? x.protocolo : "-");
  return out.join(' ');
}
}  // namespace

class TstVerdict : public QObject {
  Q_OBJECT
 private slots:
  void answers_data();
  void answers();
  void confirmation_data();
  void confirmation();
  void judge_data();
  void judge();
  void journal();
};

void TstVerdict::answers_data() {
  QTest::addColumn<int>("status");
  QTest::addColumn<QByteArray>("answer");
  QTest::addColumn<bool>("refused");
  QTest::addColumn<QString>("reason");
  // clang-format off
  QTest::newRow("accepted")      << 200 << QByteArray("<html><body><p>PROTOCOLO=1;REFERENCIA=01/2025</p></body></html>") << false << "";
  QTest::newRow("invalid file")  << 200 << QByteArray("<html><head><title>ARQUIVO INVALIDO</title></head><body>\r\n<p>ARQUIVO INVALIDO - a refer&ecirc;ncia 7 n&atilde;o &eacute; da empresa &amp; &#65;&#x42;</p></body></html>") << true << "ARQUIVO INVALIDO - a referência 7 não é da empresa & AB";
  QTest::newRow("cp1252 answer") << 200 << QByteArray("<p>ARQUIVO INVALIDO - o banco n\xE3o abre</p><p>outra linha</p>") << true << "ARQUIVO INVALIDO - o banco não abre";
  QTest::newRow("bad key")       << 200 << QByteArray("CHAVE_INVALIDA") << true << "CHAVE_INVALIDA";
  QTest::newRow("not allowed")   << 200 << QByteArray("<b>NAO_AUTORIZADO</b>") << true << "NAO_AUTORIZADO";
  QTest::newRow("simples mark")  << 200 << QByteArray("<p>ARQUIVO INVALIDO - RECIBO</p>\r\n<p>ARQUIVO INVALIDO - MODIFICADO</p>") << true << "ARQUIVO INVALIDO - RECIBO\nARQUIVO INVALIDO - MODIFICADO";
  QTest::newRow("marker in tag") << 200 << QByteArray("<p class=\"CHAVE_INVALIDA\">recusado</p>") << true << "recusado";
  QTest::newRow("lower case")    << 200 << QByteArray("arquivo invalido") << false << "";
  QTest::newRow("error status")  << 500 << QByteArray("<html><script>x()</script><body><h1>Erro</h1>interno</body></html>") << true << "Erro\ninterno";
  QTest::newRow("with its head")  << 500 << QByteArray("HTTP/1.0 500 Internal Server Error\r\nServer: x\r\n\r\n<p>Erro interno</p>") << true << "Erro interno";
  QTest::newRow("bare status")   << 404 << QByteArray() << true << "HTTP 404";
  QTest::newRow("control chars") << 200 << QByteArray("ARQUIVO INVALIDO - a\x01\x1b[2Jb &#7;c") << true << "ARQUIVO INVALIDO - a [2Jb c";
  // clang-format on
}

void TstVerdict::answers() {
  QFETCH(int, status);
  QFETCH(QByteArray, answer);
  QFETCH(bool, refused);
  QFETCH(QString, reason);
  const Verdict::AnswerReading r = Verdict::ReadAnswer(status, answer);
  QCOMPARE(r.refused, refused);
  QCOMPARE(r.reason, reason);
}

void TstVerdict::confirmation_data() {
  QTest::addColumn<QStringList>("sent");
  QTest::addColumn<QList<Row>>("before");
  QTest::addColumn<QList<Row>>("after");
  QTest::addColumn<QString>("sentAt");
  QTest::addColumn<QString>("expected");
  const Row old = row("01/2025", "100", "01/02/2025 10:00:00");
  // clang-format off
  QTest::newRow("new protocols")    << QStringList{"01/2025", "02/2025"} << QList<Row>{old} << QList<Row>{old, row("01/2025", "101"), row("02/2025", "102")} << "" << "01/2025=101 02/2025=102";
  QTest::newRow("one missing")      << QStringList{"01/2025", "02/2025"} << QList<Row>{} << QList<Row>{row("01/2025", "101")} << "" << "01/2025=101 02/2025=-";
  QTest::newRow("old row only")     << QStringList{"01/2025"} << QList<Row>{old} << QList<Row>{old} << "" << "01/2025=-";
  QTest::newRow("old row, old date")<< QStringList{"01/2025"} << QList<Row>{old} << QList<Row>{old} << "01/03/2025 09:00:00" << "01/2025=-";
  QTest::newRow("date at the send") << QStringList{"01/2025"} << QList<Row>{row("01/2025", "100", "01/03/2025 09:00:00")} << QList<Row>{row("01/2025", "100", "01/03/2025 09:00:00")} << "01/03/2025 09:00:00" << "01/2025=100";
  QTest::newRow("other month")      << QStringList{"03/2025"} << QList<Row>{} << QList<Row>{row("04/2025", "105")} << "" << "03/2025=-";
  QTest::newRow("no protocol")      << QStringList{"01/2025"} << QList<Row>{} << QList<Row>{row("01/2025", " ")} << "" << "01/2025=-";
  QTest::newRow("one row, two sent")<< QStringList{"01/2025", "01/2025"} << QList<Row>{} << QList<Row>{row("01/2025", "7")} << "" << "01/2025=7 01/2025=-";
  QTest::newRow("simples any row")  << QStringList{""} << QList<Row>{old} << QList<Row>{old, row("05/2025", "200")} << "" << "*=200";
  QTest::newRow("simples nothing")  << QStringList{""} << QList<Row>{old} << QList<Row>{old} << "" << "*=-";
  // clang-format on
}

void TstVerdict::confirmation() {
  QFETCH(QStringList, sent);
  QFETCH(QList<Row>, before);
  QFETCH(QList<Row>, after);
  QFETCH(QString, sentAt);
  QFETCH(QString, expected);
  std::optional<QDateTime> at;
  if (!sentAt.isEmpty()) at = Transmissions::ParseServerDate(sentAt);
  QList<Verdict::Reference> r;
  for (const QString& m : sent) r.append({m.isEmpty() ? QString() : "k", m, false, {}});
  QCOMPARE(outcome(Verdict::Confirm(r, before, after, at)), expected);
}

void TstVerdict::judge_data() {
  QTest::addColumn<bool>("handedOver");
  QTest::addColumn<bool>("answered");
  QTest::addColumn<int>("status");
  QTest::addColumn<QByteArray>("answer");
  QTest::addColumn<bool>("listRead");
  QTest::addColumn<int>("outcome");
  QTest::addColumn<QString>("messageStart");
  const QByteArray ok = "PROTOCOLO=101";
  // clang-format off
  QTest::newRow("confirmed")      << true  << true  << 200 << ok << true  << int(Verdict::Outcome::Confirmed)   << "A prefeitura registrou a declaração.\r\n\r\n01/2025: registrada, protocolo 101";
  QTest::newRow("refused")        << true  << true  << 200 << QByteArray("ARQUIVO INVALIDO - x") << true << int(Verdict::Outcome::Refused) << "A prefeitura recusou a declaração. O servidor respondeu:\r\n\r\n\"ARQUIVO INVALIDO - x\"";
  QTest::newRow("refused, listed")<< true  << true  << 500 << QByteArray("erro") << true << int(Verdict::Outcome::Refused) << "A prefeitura recusou a declaração.";
  QTest::newRow("list unread")    << true  << true  << 200 << ok << false << int(Verdict::Outcome::Unconfirmed) << "O servidor aceitou o envio, mas nem tudo";
  QTest::newRow("no answer, in")  << true  << false << 0   << QByteArray() << true << int(Verdict::Outcome::NoAnswer) << "A declaração pode não ter chegado à prefeitura: o servidor não respondeu.\r\n\r\nA lista de transmissões da janela principal foi atualizada para conferir. Veja se a declaração aparece nela antes de enviar de novo.\r\n\r\n01/2025: registrada, protocolo 101";
  QTest::newRow("no answer, out") << true  << false << 0   << QByteArray() << false << int(Verdict::Outcome::NoAnswer) << "A declaração pode não ter chegado à prefeitura: o servidor não respondeu.";
  QTest::newRow("not sent")       << false << false << 0   << QByteArray() << true << int(Verdict::Outcome::NotSent) << "A declaração não foi enviada";
  // clang-format on
}

void TstVerdict::judge() {
  QFETCH(bool, handedOver);
  QFETCH(bool, answered);
  QFETCH(int, status);
  QFETCH(QByteArray, answer);
  QFETCH(bool, listRead);
  QFETCH(int, outcome);
  QFETCH(QString, messageStart);
  std::optional<QList<Row>> after;
  if (listRead) after = QList<Row>{row("01/2025", "101")};
  const Verdict::Result r = Verdict::Judge(handedOver, answered, status, answer, refs({"01/2025"}), {}, after, {});
  QCOMPARE(int(r.outcome), outcome);
  QCOMPARE(r.done(), outcome == int(Verdict::Outcome::Confirmed));
  QVERIFY2(Verdict::Message(r).startsWith(messageStart), qPrintable(Verdict::Message(r)));
}

void TstVerdict::journal() {
  TestAppFolder app;
  // A registry from before the journal: its tables, no tblEnvio. Reading makes nothing.
  { LocalDatabase::Connection db; }
  {
    DbConnection db(LocalDatabase::path());
    QVERIFY(DeliveryStore::list(db).isEmpty());
    QVERIFY(db.query("select name from sqlite_master where name = 'tblEnvio'").isEmpty());
  }
  Delivery::Attempt a;
  a.tipo = "ZIDE";
  a.ie = "0623079040081";
  a.razaoSocial = "=Padaria; \"Pão\"";
  a.contador = "52601815000120";
  a.arquivo = "decl.gdb";
  a.startedAt = QDateTime(QDate(2025, 3, 1), QTime(10, 0, 0));
  a.references = refs({"01/2025", "02/2025"});
  QByteArray abc = "abcdef";
  QBuffer buffer(&abc);
  QVERIFY(buffer.open(QIODevice::ReadOnly));
  QVERIFY(Delivery::Fingerprint(&buffer, 3, &a));
  QCOMPARE(buffer.pos(), 0);
  QVERIFY(!Delivery::Fingerprint(&buffer, 7, &a));
  QCOMPARE(a.sha256, QString("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  const QByteArray longAnswer = "PROTOCOLO=101\r\n" + QByteArray(5000, 'x');
  Delivery::Result o = Delivery::Conclude(a, true, true, 200, longAnswer, QList<Row>{row("01/2025", "101")});
  QVERIFY(!o.journalError);
  a.ie = "0623079040162";
  a.tipo = "SIMPLES";
  a.references = {Verdict::Reference{}};
  o = Delivery::Conclude(a, true, true, 200, "ARQUIVO INVALIDO - RECIBO", QList<Row>{});
  QVERIFY(!o.journalError && o.journalId > 0);

  DbConnection db(LocalDatabase::path());
  const QList<DeliveryStore::Delivery> all = DeliveryStore::list(db);
  QCOMPARE(all.size(), 2);
  QCOMPARE(all[0].veredito, QString("recusado"));  // newest first
  QCOMPARE(all[1].veredito, QString("não confirmado"));
  QCOMPARE(all[1].protocolos, QString("101"));
  QCOMPARE(all[1].referencias, QString("01/2025, 02/2025"));
  QCOMPARE(all[1].resposta.size(), DeliveryStore::kAnswerLimit);
  QCOMPARE(all[1].tamanho, 3);
  QCOMPARE(DeliveryStore::list(db, "0623079040081").size(), 1);

  // The CSV read back field by field with the quoting rules of RFC 4180.
  const QString csv = DeliveryReport::Csv(DeliveryStore::list(db, "0623079040081"));
  const QList<QStringList> records = readCsv(csv);
  QCOMPARE(records.size(), 2);
  QCOMPARE(records[0].size(), records[1].size());
  // A name that a spreadsheet would run as a formula is kept as text.
  QCOMPARE(records[1][records[0].indexOf("Razão social")], QString("'=Padaria; \"Pão\""));
  QCOMPARE(records[1][records[0].indexOf("SHA-256")], a.sha256);
  QCOMPARE(records[1][records[0].indexOf("Data")], QString("01/03/2025 10:00:00"));
  QVERIFY(records[1][records[0].indexOf("Resposta")].startsWith("PROTOCOLO=101\r\nxxx"));
  const QJsonArray json = QJsonDocument::fromJson(DeliveryReport::Json(all)).array();
  QCOMPARE(json.size(), 2);
  QCOMPARE(json[1].toObject().value("tamanho").toInt(), 3);
  QCOMPARE(json[0].toObject().value("veredito").toString(), QString("recusado"));
}

QTEST_GUILESS_MAIN(TstVerdict)
#include "tst_verdict.moc"
