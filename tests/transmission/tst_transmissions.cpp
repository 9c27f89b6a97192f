#include <QtTest>

#include "support/testenv.h"
#include "transmission/transmissions.h"

using namespace Transmissions;

class TstTransmissions : public QObject {
  Q_OBJECT
 private slots:
  void markers();
  void listDocument();
  void listChildrenRules();
  void listNotAList();
  void fixedPositions();
  void serverDates();
  void versionFile();
  void receiptAddress();
  void detailsTree();
  void detailsNeverFetchAnything();
  void deeplyNestedAnswers();
};

void TstTransmissions::markers() {
  QVERIFY(IsInvalidKey("CHAVE_INVALIDA"));
  QVERIFY(IsInvalidKey("  chave_invalida \t"));
  QVERIFY(!IsInvalidKey("CHAVE_INVALIDAx"));
  QVERIFY(!IsInvalidKey("<x>CHAVE_INVALIDA</x>"));
  QVERIFY(IsAccessRefused("xxCHAVE_Iyy"));
  QVERIFY(IsAccessRefused("CHAVE_INVALIDA"));
  QVERIFY(!IsAccessRefused("chave_invalida"));
}

void TstTransmissions::listDocument() {
  const auto rows = ParseList(
      "<?xml version=\"1.0\"?><listaTransferencias data=\"x\">"
      "<transferencia><referencia>01/2025</referencia><data>10/02/2025 10:00:00</data><protocolo>123</protocolo>"
      "<status>1</status><adicionado>1.000,00</adicionado></transferencia>"
      "<transferencia><status>2</status><protocolo>456</protocolo><referencia>02 / 2025</referencia></transferencia>"
      "</listaTransferencias>");
  QVERIFY(rows);
  QCOMPARE(rows->size(), 2);
  QCOMPARE((*rows)[0].referencia, QString("01/2025"));
  QCOMPARE((*rows)[0].data, QString("10/02/2025 10:00:00"));
  QCOMPARE((*rows)[0].adicionado, QString("1.000,00"));
  QCOMPARE((*rows)[1].protocolo, QString("456"));
  QCOMPARE((*rows)[1].status, QString("2"));
  QCOMPARE((*rows)[1].data, QString());  // a missing child leaves its cell empty
  const auto empty = ParseList("<listaTransferencias/>");
  QVERIFY(empty && empty->isEmpty());
}

void TstTransmissions::listChildrenRules() {
  const auto rows = ParseList(
      "<listaTransferencias><transferencia><referencia>01/2025</referencia><outro>x</outro>"
      "<referencia>03/2025</referencia><protocolo>a<b>b</b>c</protocolo><data>&amp;&lt;</data></transferencia>"
      "<grupo><transferencia><referencia>99/2099</referencia></transferencia></grupo></listaTransferencias>");
  QVERIFY(rows);
  QCOMPARE(rows->size(), 1);                            // only direct children of the root are transmissions
  QCOMPARE((*rows)[0].referencia, QString("03/2025"));  // the later duplicate wins
  QCOMPARE((*rows)[0].protocolo, QString("abc"));       // the whole text content
  QCOMPARE((*rows)[0].data, QString("&<"));
}

void TstTransmissions::listNotAList() {
  QVERIFY(!ParseList("CHAVE_INVALIDAx"));
  QVERIFY(!ParseList("<listaTransferencias><transferencia>"));
  QVERIFY(!ParseList(""));
  const auto other = ParseList("<outraRaiz><transferencia><referencia>1/1</referencia></transferencia></outraRaiz>");
  QVERIFY(other && other->isEmpty());
}

void TstTransmissions::fixedPositions() {
  QString r = QString(31, 'a') + "01/02/2025 10:11:12" + "bbbbbbbb" + "2025/2026" + "cccccccccc" + "1.16.00" +
              QString(13, ' ') + "tail";
  const ServerFields f = FieldsOf(r);
  QCOMPARE(f.date, QString("01/02/2025 10:11:12"));
  QCOMPARE(f.year, QString("2025/2026"));
  QCOMPARE(f.version, QString("1.16.00") + QString(13, ' '));
  QCOMPARE(Field("abc", 2, 10), QString("bc"));
  QCOMPARE(Field("abc", 4, 10), QString());
  const ServerFields shortOne = FieldsOf("CHAVE_INVALIDA");
  QVERIFY(shortOne.date.isEmpty() && shortOne.year.isEmpty() && shortOne.version.isEmpty());
}

void TstTransmissions::serverDates() {
  QCOMPARE(*ParseServerDate("01/02/2025 10:11:12"), QDateTime(QDate(2025, 2, 1), QTime(10, 11, 12)));
  QCOMPARE(*ParseServerDate("2025-02-01 10:11:12"), QDateTime(QDate(2025, 2, 1), QTime(10, 11, 12)));
  QVERIFY(!ParseServerDate(""));
  QVERIFY(!ParseServerDate("31/02/2025 10:11:12"));
  QVERIFY(!ParseServerDate("02/01/2025"));
  QVERIFY(!ParseServerDate("2025/02/01 10:11:12"));
}

void TstTransmissions::versionFile() {
  TestAppFolder app;
  // The copy shipped beside the executable is found when the folder has none.
  QCOMPARE(*ReadVersionFile(), QString("1.15.01"));
  app.write("info.dip", "1.15.01\r\n");
  QCOMPARE(*ReadVersionFile(), QString("1.15.01\r\n"));
  QVERIFY(!IsCurrent("<v>1.15.01</v>", ReadVersionFile()));
  QVERIFY(IsCurrent("<v>1.15.01\r\n</v>", ReadVersionFile()));
  app.write("info.dip", "1.15.01");
  QVERIFY(IsCurrent("xx 1.15.01 in another field", ReadVersionFile()));
  QVERIFY(!IsCurrent("1.15.00", ReadVersionFile()));
  QVERIFY(!IsCurrent("anything", std::nullopt));
}

void TstTransmissions::receiptAddress() {
  QCOMPARE(ReceiptUrl("127.0.0.1", "0623079040081", "AB12", "01 / 2025"),
           QString("http://127.0.0.1/protocoloDown.php?IE=0623079040081&key=AB12&ref=01/2025"));
  QCOMPARE(ReceiptUrl("h", "1", "k&x", " 01/2025 "), QString("http://h/protocoloDown.php?IE=1&key=k&x&ref=01/2025"));
}

void TstTransmissions::detailsTree() {
  QString err;
  const auto d = ParseDetails(
      "<apuracao><item PROTOCOLO=\"P1\"><DETALHE>Sem divergências</DETALHE><linha>a</linha></item>"
      "<aviso><DETALHE>ok</DETALHE></aviso><vazio/></apuracao>",
      &err);
  QVERIFY2(d, qPrintable(err));
  QCOMPARE(d->rootName, QString("apuracao"));
  QCOMPARE(d->nodes.size(), 3);
  QCOMPARE(d->nodes[0].text, QString("DIZIZ : Sem divergências"));
  QCOMPARE(d->nodes[0].tag, QString("P1"));
  QCOMPARE(d->nodes[0].children, QStringList({"Sem divergências", "a"}));
  QCOMPARE(d->nodes[1].text, QString("aviso: ok"));
  QVERIFY(d->nodes[1].tag.isNull());
  QCOMPARE(d->nodes[2].text, QString("vazio: "));
  QVERIFY(!ParseDetails("<a><b></a>", &err));
  QVERIFY(!err.isEmpty());
}

void TstTransmissions::deeplyNestedAnswers() {
  // A broken or hostile server nesting elements a hundred thousand levels deep (600 KB) must not
  // bring the program down: the list keeps the cell's text, the details are refused with a reason.
  const int n = 100000;
  const QString open = QString("<x>").repeated(n), close = QString("</x>").repeated(n);
  const auto rows = ParseList("<listaTransferencias><transferencia><referencia>01/" + open + "2025" + close +
                              "</referencia><data>d</data></transferencia></listaTransferencias>");
  QVERIFY(rows);
  QCOMPARE(rows->size(), 1);
  QCOMPARE((*rows)[0].referencia, QString("01/2025"));
  QCOMPARE((*rows)[0].data, QString("d"));

  QString err;
  QVERIFY(!ParseDetails("<apuracao><item>" + open + close + "</item></apuracao>", &err));
  QVERIFY(err.contains("aninhados"));
  // A details document of ordinary depth is still read.
  const auto d = ParseDetails("<a>" + QString("<x>").repeated(50) + QString("</x>").repeated(50) + "</a>", &err);
  QVERIFY2(d, qPrintable(err));
  QCOMPARE(d->nodes.size(), 1);
}

void TstTransmissions::detailsNeverFetchAnything() {
  // An external entity is never resolved: the document either fails or keeps the reference unexpanded.
  QString err;
  QTemporaryDir dir;
  QFile secret(dir.filePath("segredo.txt"));
  QVERIFY(secret.open(QIODevice::WriteOnly));
  secret.write("CONTEUDO-SECRETO");
  secret.close();
  const QString doc = "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + secret.fileName() +
                      "\">]><a><b><DETALHE>&x;</DETALHE></b></a>";
  const auto d = ParseDetails(doc, &err);
  if (d) {
    for (const auto& n : d->nodes) {
      QVERIFY(!n.text.contains("CONTEUDO-SECRETO"));
      for (const auto& c : n.children) QVERIFY(!c.contains("CONTEUDO-SECRETO"));
    }
  }
  const auto list = ParseList("<!DOCTYPE l [<!ENTITY x SYSTEM \"file://" + secret.fileName() +
                              "\">]><listaTransferencias><transferencia><referencia>&x;</referencia></transferencia>"
                              "</listaTransferencias>");
  if (list)
    for (const auto& r : *list) QVERIFY(!r.referencia.contains("CONTEUDO-SECRETO"));
}

QTEST_GUILESS_MAIN(TstTransmissions)
#include "tst_transmissions.moc"
