#include <QtTest>

#include <random>

#include "support/testenv.h"
#include "validation/validators.h"

namespace {

struct Run {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

Run zideCli(const QStringList& args, const QByteArray& input = {}, const QString& stdoutFile = {}) {
  QProcess p;
  if (!stdoutFile.isEmpty()) p.setStandardOutputFile(stdoutFile);
  p.start(builtProgram("zide-cli"), args);
  Run r;
  if (!p.waitForStarted(10000)) return r;
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(30000)) {
    p.kill();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  return r;
}

const QByteArray kValid = "\tv\xC3\xA1lido\n";      // "\tválido\n"
const QByteArray kInvalid = "\tinv\xC3\xA1lido\n";  // "\tinválido\n"

}  // namespace

class TstZideCli : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void usageErrors_data();
  void usageErrors();
  void help();
  void textsAsArguments();
  void stateRegistrations();
  void linesFromStandardInput();
  void largeInputMatchesTheLibrary();
  void writeFailureIsReported();
};

void TstZideCli::initTestCase() {
  QVERIFY2(QFile::exists(builtProgram("zide-cli")), qPrintable(builtProgram("zide-cli")));
}

void TstZideCli::usageErrors_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QByteArray>("says");
  QTest::newRow("nothing") << QStringList{} << QByteArray("falta o comando");
  QTest::newRow("unknown command") << QStringList{"validate", "cpf", "1"} << QByteArray("comando desconhecido");
  QTest::newRow("no type") << QStringList{"validar"} << QByteArray("falta o tipo");
  QTest::newRow("unknown type") << QStringList{"validar", "rg", "123"} << QByteArray("tipo de documento desconhecido");
  QTest::newRow("upper-case type") << QStringList{"validar", "CPF", "123"} << QByteArray("tipo de documento desconhecido");
  QTest::newRow("ie without UF") << QStringList{"validar", "ie"} << QByteArray("falta a UF");
  QTest::newRow("lower-case UF") << QStringList{"validar", "ie", "sp", "314159269358"} << QByteArray("UF desconhecida");
  QTest::newRow("unknown UF") << QStringList{"validar", "ie", "XX", "1"} << QByteArray("UF desconhecida");
  // clang-format on
}

void TstZideCli::usageErrors() {
  QFETCH(QStringList, args);
  QFETCH(QByteArray, says);
  const Run r = zideCli(args, "31415926590\n");
  QCOMPARE(r.exitCode, 2);
  QVERIFY(r.out.isEmpty());  // nothing was checked
  QVERIFY2(r.err.contains(says), r.err.constData());
  QVERIFY(r.err.contains("Uso: zide-cli"));
}

void TstZideCli::help() {
  Run r = zideCli({"--ajuda"});
  QCOMPARE(r.exitCode, 0);
  QVERIFY(r.out.contains("validar"));
  r = zideCli({"validar", "--ajuda"});
  QCOMPARE(r.exitCode, 0);
  QVERIFY(r.out.contains("zide-cli validar ie UF [TEXTO...]"));
  QVERIFY(r.out.contains("entrada padr\xC3\xA3o"));
}

void TstZideCli::textsAsArguments() {
  Run r = zideCli({"validar", "cpf", "314.159.265-90", "27950288400"});
  QCOMPARE(r.exitCode, 0);
  QCOMPARE(r.out, "314.159.265-90" + kValid + "27950288400" + kValid);
  QVERIFY(r.err.isEmpty());

  // One invalid text makes the status 1; every text is still reported, in order.
  r = zideCli({"validar", "cpf", "31415926591", "31415926590"});
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(r.out, "31415926591" + kInvalid + "31415926590" + kValid);

  r = zideCli({"validar", "cnpj", "31.415.926/0001-71", "3141592600017", "-14"});
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(r.out, "31.415.926/0001-71" + kValid + "3141592600017" + kInvalid + "-14" + kInvalid);

  // An empty argument is a text too (and, with no digits, a valid one).
  r = zideCli({"validar", "cnpj", ""});
  QCOMPARE(r.exitCode, 0);
  QCOMPARE(r.out, kValid);
}

void TstZideCli::stateRegistrations() {
  Run r = zideCli({"validar", "ie", "SP", "P-03141592.1/001", "314.159.269.357"});
  QCOMPARE(r.exitCode, 0);
  QCOMPARE(r.out, "P-03141592.1/001" + kValid + "314.159.269.357" + kValid);
  // The text reaches the RO rule exactly as typed: its punctuation decides the window.
  r = zideCli({"validar", "ie", "RO", "314.15926-3", "314159263"});
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(r.out, "314.15926-3" + kValid + "314159263" + kInvalid);
  r = zideCli({"validar", "ie", "AM", "0"});
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(r.out, "0" + kInvalid);
}

void TstZideCli::linesFromStandardInput() {
  // "\r\n" and "\n" both end a line; an empty line is a text; the last line needs no end.
  Run r = zideCli({"validar", "cpf"}, "314.159.265-90\r\n31415926591\n\n27950288400");
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(r.out, "314.159.265-90" + kValid + "31415926591" + kInvalid + kValid + "27950288400" + kValid);

  // A one-character last line without its end.
  r = zideCli({"validar", "cpf"}, "31415926590\n1");
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(r.out, "31415926590" + kValid + "1" + kInvalid);

  // Without its "\r" the RO text keeps its eleven characters.
  r = zideCli({"validar", "ie", "RO"}, "314.15926-3\r\n314.15926-3\n");
  QCOMPARE(r.exitCode, 0);
  QCOMPARE(r.out, "314.15926-3" + kValid + "314.15926-3" + kValid);

  // Bytes pass through untouched, NUL and invalid UTF-8 included.
  const QByteArray odd(
      "314\0"
      "159\xFF"
      "265-90",
      14);
  r = zideCli({"validar", "cpf"}, odd + "\n");
  QCOMPARE(r.exitCode, 0);
  QCOMPARE(r.out, odd + kValid);

  // No input, no output, nothing invalid.
  r = zideCli({"validar", "cnpj"});
  QCOMPARE(r.exitCode, 0);
  QVERIFY(r.out.isEmpty());
}

// Many lines of every length, some longer than the reading block, must come out one for one.
void TstZideCli::largeInputMatchesTheLibrary() {
  std::mt19937 gen(11);
  QByteArray input, expected;
  bool allValid = true;
  for (int i = 0; i < 60000; ++i) {
    QByteArray text;
    if (i == 30000) {
      text = QByteArray(3 << 20, '.') + "31415926591";  // a 3 MB line
    } else {
      const int len = int(gen() % 40);
      for (int k = 0; k < len; ++k) text += "0123456789.-/ "[gen() % 14];
    }
    const bool ok = CPFValida(std::string_view(text.constData(), size_t(text.size())));
    allValid = allValid && ok;
    input += text + (i % 3 == 0 ? "\r\n" : "\n");
    expected += text + (ok ? kValid : kInvalid);
  }
  QVERIFY(!allValid);
  const Run r = zideCli({"validar", "cpf"}, input);
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(r.out.size(), expected.size());
  QVERIFY(r.out == expected);
}

void TstZideCli::writeFailureIsReported() {
  if (!QFile::exists("/dev/full")) QSKIP("no /dev/full here");
  const Run r = zideCli({"validar", "cpf", "31415926590"}, {}, "/dev/full");
  QCOMPARE(r.exitCode, 3);
  QVERIFY(r.err.contains("erro ao escrever"));
}

QTEST_GUILESS_MAIN(TstZideCli)
#include "tst_zidecli.moc"
