#include <QtTest>

#include <functional>
#include <random>
#include <set>
#include <string>

#include "validation/validators.h"

namespace {

const char* const kAllUnits[] = {"AC", "AL", "AM", "AP", "BA", "CE", "DF", "ES", "GO", "MA", "MG", "MS", "MT", "PA",
                                 "PB", "PE", "PI", "PR", "RJ", "RN", "RO", "RR", "RS", "SC", "SE", "SP", "TO"};

std::string_view sv(const std::string& s) { return std::string_view(s.data(), s.size()); }

// ---- Check digits computed here from the written rules, independently of the library -----------

int digitAt(const std::string& digits, int pos) {  // 1-based, missing counts as 0
  return pos <= int(digits.size()) ? digits[size_t(pos - 1)] - '0' : 0;
}
int sumOf(const std::string& digits, std::initializer_list<int> weights, int firstPos = 1) {
  int s = 0, pos = firstPos;
  for (int w : weights) s += w * digitAt(digits, pos++);
  return s;
}
int elevenMinus(int s) {
  const int k = 11 - s % 11;
  return k >= 10 ? 0 : k;
}
int remainderTenIsZero(int s) { return s % 11 == 10 ? 0 : s % 11; }
char ch(int digit) { return char('0' + digit); }

struct Rng {
  std::mt19937 gen{20260101u};
  int digit() { return int(gen() % 10); }
  int between(int lo, int hi) { return lo + int(gen() % unsigned(hi - lo + 1)); }
  // Mostly uniform digits, now and then mostly zeros, so that small weighted sums turn up too.
  std::string digits(int n) {
    const bool sparse = gen() % 4 == 0;
    std::string s;
    for (int i = 0; i < n; ++i) s += ch(sparse && gen() % 5 ? 0 : digit());
    return s;
  }
};

// One generated case: a text whose check digits sit at checkAt (byte indexes), and every text that
// is valid among the 10^k fillings of those positions.
struct Generated {
  std::string text;
  std::vector<int> checkAt;
  std::set<std::string> valid;
};

Generated single(std::string digits, int checkIndex, std::function<std::set<int>(const std::string&)> allowed) {
  Generated g{digits, {checkIndex}, {}};
  for (int v : allowed(digits)) {
    std::string t = digits;
    t[size_t(checkIndex)] = ch(v);
    g.valid.insert(t);
  }
  return g;
}

// A base followed by computed check digits, each computed from the digits before it.
Generated appended(std::string base, std::initializer_list<std::function<int(const std::string&)>> steps) {
  Generated g;
  for (const auto& step : steps) {
    g.checkAt.push_back(int(base.size()));
    base += ch(step(base));
  }
  g.text = base;
  g.valid.insert(base);
  return g;
}

Generated generateIE(const std::string& uf, Rng& rng) {
  auto nineToTwo = [](const std::string& d) { return sumOf(d, {9, 8, 7, 6, 5, 4, 3, 2}); };
  if (uf == "AC" || uf == "DF")
    return appended(rng.digits(11), {[](auto& d) {
                                       return elevenMinus(sumOf(d, {4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
                                     },
                                     [](auto& d) {
                                       return elevenMinus(sumOf(d, {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
                                     }});
  if (uf == "AL") return appended(rng.digits(8), {[&](auto& d) { return remainderTenIsZero(nineToTwo(d) * 10); }});
  if (uf == "AM") {
    // S below 11 gives 11 - S unfolded: S of 0 or 1 leaves no valid ninth digit.
    return single(rng.digits(8) + "0", 8, [&](const std::string& d) -> std::set<int> {
      const int s = nineToTwo(d);
      if (s >= 11) return {elevenMinus(s)};
      if (11 - s <= 9) return {11 - s};
      return {};
    });
  }
  if (uf == "AP") {
    long n;
    switch (rng.between(0, 3)) {
      case 0: n = rng.between(3000001, 3017000); break;
      case 1: n = rng.between(3017001, 3019022); break;
      case 2: n = rng.between(3019023, 3999999); break;
      default: n = 3000000; break;
    }
    const std::string base = "0" + std::to_string(n);
    return appended(base, {[n, &nineToTwo](auto& d) {
                      int p = 0, q = 0;
                      if (n >= 3000001 && n <= 3017000) p = 5;
                      if (n >= 3017001 && n <= 3019022) p = 9, q = 1;
                      const int k = 11 - (p + nineToTwo(d)) % 11;
                      return k == 10 ? 0 : k == 11 ? q : k;
                    }});
  }
  if (uf == "BA") {
    // d7 and d8 are the check digits; every d8 that agrees with the modulus it selects counts.
    const std::string base = rng.digits(6);
    Generated g{base + "00", {6, 7}, {}};
    for (int d8 = 0; d8 <= 9; ++d8) {
      const bool modTen = d8 <= 5 || d8 == 8;
      auto digitOf = [modTen](int s) { return modTen ? (s % 10 == 0 ? 0 : 10 - s % 10) : elevenMinus(s); };
      if (digitOf(sumOf(base, {7, 6, 5, 4, 3, 2})) != d8) continue;
      const int d7 = digitOf(sumOf(base, {8, 7, 6, 5, 4, 3}) + d8 * 2);
      g.valid.insert(base + ch(d7) + ch(d8));
    }
    return g;
  }
  if (uf == "CE" || uf == "ES" || uf == "MA" || uf == "MS" || uf == "PA" || uf == "PB" || uf == "PI" || uf == "SC" ||
      uf == "SE")
    return appended(rng.digits(8), {[&](auto& d) { return elevenMinus(nineToTwo(d)); }});
  if (uf == "GO") {
    std::string base;
    switch (rng.between(0, 3)) {
      case 0: base = std::to_string(rng.between(10103105, 10119997)); break;
      case 1: base = "11094402"; break;
      default: base = rng.digits(8); break;
    }
    return single(base + "0", 8, [&](const std::string& d) -> std::set<int> {
      const int r = nineToTwo(d) % 11;
      const long n = std::stol(d.substr(0, 8));
      const bool anyDigit = r == 0 || (r == 1 && (n == 11094402 || (n >= 10103105 && n <= 10119997)));
      if (anyDigit) return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
      if (r == 1) return {};
      return {11 - r};
    });
  }
  if (uf == "MG")
    return appended(rng.digits(11), {[](auto& d) {
                                       const std::string seq = d.substr(0, 3) + "0" + d.substr(3, 8);
                                       int t = 0;
                                       for (size_t i = 0; i < seq.size(); ++i) {
                                         const std::string product = std::to_string((seq[i] - '0') * (i % 2 ? 2 : 1));
                                         for (char c : product) t += c - '0';
                                       }
                                       const int next = (t / 10 + 1) * 10;
                                       return next - t == 10 ? 0 : next - t;
                                     },
                                     [](auto& d) {
                                       return elevenMinus(sumOf(d, {3, 2, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2}));
                                     }});
  if (uf == "MT")
    return appended(rng.digits(10), {[](auto& d) { return elevenMinus(sumOf(d, {3, 2, 9, 8, 7, 6, 5, 4, 3, 2})); }});
  if (uf == "PR")
    return appended(rng.digits(8), {[](auto& d) {
                                      return elevenMinus(sumOf(d, {3, 2, 7, 6, 5, 4, 3, 2}));
                                    },
                                    [](auto& d) {
                                      return elevenMinus(sumOf(d, {4, 3, 2, 7, 6, 5, 4, 3, 2}));
                                    }});
  if (uf == "PE") {
    if (rng.between(0, 1))
      return appended(rng.digits(7), {[](auto& d) {
                                        return elevenMinus(sumOf(d, {8, 7, 6, 5, 4, 3, 2}));
                                      },
                                      [&](auto& d) { return elevenMinus(nineToTwo(d)); }});
    return appended(rng.digits(13), {[](auto& d) {
                      return elevenMinus(sumOf(d, {5, 4, 3, 2, 1, 9, 8, 7, 6, 5, 4, 3, 2}));
                    }});
  }
  if (uf == "RJ")
    return appended(rng.digits(7), {[](auto& d) { return elevenMinus(sumOf(d, {2, 7, 6, 5, 4, 3, 2})); }});
  if (uf == "RN") {
    if (rng.between(0, 1))
      return appended(rng.digits(9), {[](auto& d) { return elevenMinus(sumOf(d, {10, 9, 8, 7, 6, 5, 4, 3, 2})); }});
    return appended(rng.digits(8), {[&](auto& d) { return elevenMinus(nineToTwo(d)); }});
  }
  if (uf == "RS")
    return appended(rng.digits(9), {[](auto& d) { return elevenMinus(sumOf(d, {2, 9, 8, 7, 6, 5, 4, 3, 2})); }});
  if (uf == "RO") {
    auto check = [](const std::string& window) { return elevenMinus(sumOf(window, {6, 5, 4, 3, 2})); };
    if (rng.between(0, 1)) {
      // 314.15926-3: eleven characters, so the window is digits 4 to 9; the first three are not read.
      const std::string d = rng.digits(8);
      const std::string text = d.substr(0, 3) + "." + d.substr(3, 5) + "-" + ch(check(d.substr(3, 5)));
      return Generated{text, {10}, {text}};
    }
    const std::string d = rng.digits(5);
    return appended(d, {[check](auto& s) { return check(s); }});
  }
  if (uf == "RR") return appended(rng.digits(8), {[](auto& d) { return sumOf(d, {1, 2, 3, 4, 5, 6, 7, 8}) % 9; }});
  if (uf == "SP") {
    const std::string d = rng.digits(8);
    const int first = remainderTenIsZero(sumOf(d, {1, 3, 4, 5, 6, 7, 8, 10}));
    if (rng.between(0, 1)) {
      // Rural producer: P-0dddddd.c/ddd, only the ninth digit is a check digit.
      const std::string text = "P-" + d + "." + ch(first) + "/" + rng.digits(3);
      return Generated{text, {11}, {text}};
    }
    std::string full = d + ch(first) + rng.digits(2);
    full += ch(remainderTenIsZero(sumOf(full, {3, 2, 10, 9, 8, 7, 6, 5, 4, 3, 2})));
    return Generated{full, {8, 11}, {full}};
  }
  if (uf == "TO") {
    const std::string d = rng.digits(10);
    const int k = elevenMinus(sumOf(d, {9, 8}) + sumOf(d, {7, 6, 5, 4, 3, 2}, 5));
    return Generated{d + ch(k), {10}, {d + ch(k)}};
  }
  return {};
}

// Every filling of the check positions; the number of positions is at most two.
std::vector<std::string> fillings(const Generated& g) {
  std::vector<std::string> out{g.text};
  for (int at : g.checkAt) {
    std::vector<std::string> next;
    for (const std::string& t : out)
      for (int v = 0; v <= 9; ++v) {
        std::string u = t;
        u[size_t(at)] = ch(v);
        next.push_back(u);
      }
    out = next;
  }
  return out;
}

// The same digits with punctuation and blanks between them.
std::string punctuated(const std::string& digits, Rng& rng) {
  static const char marks[] = ".-/ _";
  std::string out;
  for (char c : digits) {
    out += c;
    if (rng.between(0, 2) == 0) out += marks[rng.between(0, 4)];
  }
  return out;
}

std::string repeat(char c, size_t n) { return std::string(n, c); }

}  // namespace

class TstValidators : public QObject {
  Q_OBJECT
 private slots:
  void cpfExamples_data();
  void cpfExamples();
  void cnpjExamples_data();
  void cnpjExamples();
  void cpfAndCnpjGenerated();

  void ieValidNumberPerUnit_data();
  void ieValidNumberPerUnit();
  void ieUnknownCodesAreExempt();
  void ieZerosAndEmpty();
  void ieLengthIsNotExamined();
  void ieSaoPaulo();
  void ieAmapa();
  void ieGoias();
  void ieBahia();
  void ieTocantins();
  void ieRondonia();
  void ieGenerated_data();
  void ieGenerated();

  void badInputNeverFails();
  void nonAsciiDigitsAreNotDigits();
  void nulBytesAreNonDigits();
  void megabyteTexts();
  void qstringForms();
};

// ---- CPF and CNPJ ------------------------------------------------------------------------------

void TstValidators::cpfExamples_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<bool>("valid");
  QTest::newRow("formatted") << QByteArray("314.159.265-90") << true;
  QTest::newRow("plain") << QByteArray("31415926590") << true;
  QTest::newRow("second digit wrong") << QByteArray("31415926591") << false;
  QTest::newRow("first digit wrong") << QByteArray("31415926580") << false;
  QTest::newRow("both remainders fold to 0") << QByteArray("27950288400") << true;
  QTest::newRow("zeros") << QByteArray("00000000000") << true;
  QTest::newRow("ones") << QByteArray("11111111111") << true;
  QTest::newRow("empty") << QByteArray("") << true;
  QTest::newRow("no digits") << QByteArray("abc") << true;
  QTest::newRow("ten digits") << QByteArray("3141592659") << true;
  QTest::newRow("twelve digits") << QByteArray("314159265900") << true;
  QTest::newRow("mask placeholders") << QByteArray("314.159.265-9_") << true;
  QTest::newRow("mask placeholders, wrong") << QByteArray("314.159.266-__") << false;
  // clang-format on
}

void TstValidators::cpfExamples() {
  QFETCH(QByteArray, text);
  QFETCH(bool, valid);
  QCOMPARE(CPFValida(std::string_view(text.constData(), size_t(text.size()))), valid);
}

void TstValidators::cnpjExamples_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<bool>("valid");
  QTest::newRow("formatted") << QByteArray("31.415.926/0001-71") << true;
  QTest::newRow("plain") << QByteArray("31415926000171") << true;
  QTest::newRow("second digit wrong") << QByteArray("31415926000172") << false;
  QTest::newRow("first digit wrong") << QByteArray("31415926000161") << false;
  QTest::newRow("thirteen digits") << QByteArray("3141592600017") << false;
  QTest::newRow("zeros") << QByteArray("00000000000000") << true;
  QTest::newRow("ones") << QByteArray("11111111111111") << false;
  QTest::newRow("empty") << QByteArray("") << true;
  QTest::newRow("beyond fourteen ignored") << QByteArray("3141592600017199") << true;
  // clang-format on
}

void TstValidators::cnpjExamples() {
  QFETCH(QByteArray, text);
  QFETCH(bool, valid);
  QCOMPARE(CNPJValida(std::string_view(text.constData(), size_t(text.size()))), valid);
}

void TstValidators::cpfAndCnpjGenerated() {
  Rng rng;
  for (int round = 0; round < 400; ++round) {
    const Generated cpf = appended(rng.digits(9), {[](auto& d) {
                                                     return elevenMinus(sumOf(d, {10, 9, 8, 7, 6, 5, 4, 3, 2}));
                                                   },
                                                   [](auto& d) {
                                                     return elevenMinus(sumOf(d, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2}));
                                                   }});
    const Generated cnpj =
        appended(rng.digits(12), {[](auto& d) {
                                    return elevenMinus(sumOf(d, {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
                                  },
                                  [](auto& d) {
                                    return elevenMinus(sumOf(d, {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
                                  }});
    // Of the hundred fillings of the two check digits exactly the computed one is valid.
    for (const std::string& t : fillings(cpf)) QVERIFY2(CPFValida(sv(t)) == (cpf.valid.count(t) > 0), t.c_str());
    for (const std::string& t : fillings(cnpj)) QVERIFY2(CNPJValida(sv(t)) == (cnpj.valid.count(t) > 0), t.c_str());
    const std::string cpfText = punctuated(cpf.text, rng), cnpjText = punctuated(cnpj.text, rng);
    QVERIFY2(CPFValida(sv(cpfText)), cpfText.c_str());
    QVERIFY2(CNPJValida(sv(cnpjText)), cnpjText.c_str());
  }
}

// ---- IE: the valid number of each unit --------------------------------------------------------

void TstValidators::ieValidNumberPerUnit_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("uf");
  QTest::addColumn<QByteArray>("text");
  const struct { const char* uf; const char* number; const char* what; } rows[] = {
      {"AC", "0131415926587", "two standard digits"},
      {"AL", "243141599", "(S x 10) mod 11"},
      {"AM", "043141595", "S of 11 or more"},
      {"AP", "030050001", "p = 5"},
      {"AP", "030170101", "p = 9, K of 11 becomes q"},
      {"AP", "032718284", "p = 0"},
      {"BA", "12345663", "modulus 10 by d8 = 3"},
      {"BA", "61234518", "modulus 10 by d8 = 8"},
      {"BA", "27182806", "modulus 11 by d8 = 6"},
      {"CE", "314159266", "weights 9 to 2"},
      {"ES", "314159266", "weights 9 to 2"},
      {"PB", "314159266", "weights 9 to 2"},
      {"PI", "314159266", "weights 9 to 2"},
      {"SC", "314159266", "weights 9 to 2"},
      {"DF", "0731415926518", "two standard digits"},
      {"GO", "103141596", "R greater than 1"},
      {"MA", "123141591", "standard digit of 1"},
      {"MT", "15926535895", "eleven digits"},
      {"MS", "281592659", "weights 9 to 2"},
      {"MG", "3141592653553", "digit sum, then standard"},
      {"PA", "151592659", "weights 9 to 2"},
      {"PR", "3141592687", "two standard digits"},
      {"PE", "358979374", "nine-digit variant"},
      {"PE", "31415926535892", "fourteen-digit variant"},
      {"RJ", "31415926", "eight digits"},
      {"RN", "203141598", "nine-digit variant"},
      {"RN", "2031415921", "ten-digit variant"},
      {"RS", "1592653585", "ten digits"},
      {"RO", "314.15926-3", "window from position 4"},
      {"RR", "243141593", "modulus 9"},
      {"SE", "273141597", "weights 9 to 2"},
      {"SP", "314.159.269.357", "twelve-digit format"},
      {"SP", "P-03141592.1/001", "rural producer"},
      {"TO", "29014159266", "d3 and d4 skipped"},
  };
  for (const auto& r : rows)
    QTest::addRow("%s %s (%s)", r.uf, r.number, r.what) << QString(r.uf) << QByteArray(r.number);
  // clang-format on
}

void TstValidators::ieValidNumberPerUnit() {
  QFETCH(QString, uf);
  QFETCH(QByteArray, text);
  const std::string u = uf.toStdString(), t = text.toStdString();
  QVERIFY(IEValida(sv(t), sv(u)));
  if (u == "RO") return;  // its window depends on the punctuation
  std::string plain;
  for (char c : t)
    if (c >= '0' && c <= '9') plain += c;
  if (u != "SP" || t[0] != 'P') {
    QVERIFY(IEValida(sv(plain), sv(u)));
    QVERIFY(IEValida(sv("  " + plain.substr(0, 3) + "." + plain.substr(3) + "-"), sv(u)));
  }
  // A changed last digit breaks each of them, except where that digit is not examined (rural SP)
  // or not checked at all (GO with R = 0 or 1; not the case for this GO number).
  if (u == "SP" && t[0] == 'P') return;
  std::string changed = t;
  char& last = changed.back();
  last = last == '9' ? '0' : char(last + 1);
  QVERIFY2(!IEValida(sv(changed), sv(u)), changed.c_str());
}

void TstValidators::ieUnknownCodesAreExempt() {
  for (const char* code : {"XX", "", "sp", "SP ", " SP", "Sp", "S", "SPX", "BR", "ac"}) {
    QVERIFY2(IEValida("314159269358", code), code);
    QVERIFY2(IEValida("1", code), code);
    QVERIFY(!IEUnidadeConhecida(code));
  }
  for (const char* code : kAllUnits) QVERIFY(IEUnidadeConhecida(code));
  // The same number is rejected under the real code.
  QVERIFY(!IEValida("314159269358", "SP"));
}

void TstValidators::ieZerosAndEmpty() {
  for (const char* code : kAllUnits) {
    const bool expected = std::string_view(code) != "AM";
    for (const char* text : {"", "0", "000000000", "00000000000000", "abc", "..-/"})
      QVERIFY2(IEValida(text, code) == expected, (std::string(code) + " [" + text + "]").c_str());
  }
}

void TstValidators::ieLengthIsNotExamined() {
  QVERIFY(!IEValida("31415926935", "SP"));   // missing twelfth counts as 0, K2 is 7
  QVERIFY(IEValida("3141592693570", "SP"));  // thirteenth ignored
  QVERIFY(!IEValida("31415926535", "MG"));
  QVERIFY(IEValida("3141592653553999", "MG"));
  QVERIFY(IEValida("31415926", "RJ"));
  QVERIFY(IEValida("3141592600000", "RJ"));
  // PE and RN pick their variant by the count of digits.
  QVERIFY(IEValida("358979374000", "PE"));    // twelve digits: the nine-digit variant, rest unread
  QVERIFY(!IEValida("3589793740000", "PE"));  // thirteen: the long variant, d14 missing (K is 2)
  QVERIFY(IEValida("35897937400002", "PE"));
  QVERIFY(IEValida("20314159800", "RN"));   // eleven digits: the nine-digit rule
  QVERIFY(!IEValida("20314159210", "RN"));  // the ten-digit number with a digit more is not
}

void TstValidators::ieSaoPaulo() {
  QVERIFY(!IEValida("314159269358", "SP"));
  QVERIFY(!IEValida("314159279357", "SP"));  // first check digit wrong
  QVERIFY(!IEValida("p-03141592.1/001", "SP"));
  QVERIFY(!IEValida(" P-03141592.1/001", "SP"));
  QVERIFY(IEValida("P031415921", "SP"));
  QVERIFY(IEValida("P-03141592.1/999", "SP"));  // nothing after the ninth digit is examined
  QVERIFY(!IEValida("P-03141592.2/001", "SP"));
}

void TstValidators::ieAmapa() {
  for (const char* n : {"041234567", "041234568", "123456789", "3", "0"}) QVERIFY2(IEValida(n, "AP"), n);
  QVERIFY(!IEValida("030050002", "AP"));
  QVERIFY(!IEValida("030170100", "AP"));  // K of 11 gives q = 1 here, not 0
  QVERIFY(!IEValida("032718285", "AP"));
  // 03000000 is below every range: p = 0 gives 9 (p = 5 would give 4).
  QVERIFY(IEValida("030000009", "AP"));
  QVERIFY(!IEValida("030000004", "AP"));
}

void TstValidators::ieGoias() {
  for (int d9 = 0; d9 <= 9; ++d9) {
    const std::string tail(1, ch(d9));
    QVERIFY(IEValida(sv("11094402" + tail), "GO"));
    QVERIFY(IEValida(sv("10103105" + tail), "GO"));  // R = 1 inside the range, at both ends
    QVERIFY(IEValida(sv("10119997" + tail), "GO"));
    QVERIFY(IEValida(sv("10000001" + tail), "GO"));   // R = 0
    QVERIFY(!IEValida(sv("10000007" + tail), "GO"));  // R = 1 outside the range
  }
  QVERIFY(!IEValida("103141597", "GO"));
}

void TstValidators::ieBahia() {
  // No eight-digit number beginning with 314159 is valid: each modulus selects the other.
  for (int tail = 0; tail < 100; ++tail) {
    const std::string n = "314159" + std::string(1, ch(tail / 10)) + ch(tail % 10);
    QVERIFY2(!IEValida(sv(n), "BA"), n.c_str());
  }
  QVERIFY(!IEValida("12345673", "BA"));  // d7 wrong
  QVERIFY(!IEValida("27182816", "BA"));
  QVERIFY(IEValida("12.345.66-3", "BA"));
}

void TstValidators::ieTocantins() {
  for (int mid = 0; mid < 100; ++mid) {
    const std::string n = "29" + std::string(1, ch(mid / 10)) + ch(mid % 10) + "4159266";
    QVERIFY2(IEValida(sv(n), "TO"), n.c_str());
  }
  QVERIFY(!IEValida("29014159267", "TO"));
  QVERIFY(!IEValida("39014159266", "TO"));
}

void TstValidators::ieRondonia() {
  QVERIFY(IEValida("314.15926-3", "RO"));
  QVERIFY(!IEValida("314159263", "RO"));   // nine characters: window from digit 2
  QVERIFY(IEValida("159263", "RO"));       // six digits: no window
  QVERIFY(IEValida("1-5-9-2-6-3", "RO"));  // not even with a long raw text
  QVERIFY(!IEValida("159264", "RO"));
  QVERIFY(IEValida("314.15926/3", "RO"));  // any punctuation of the same length
  QVERIFY(!IEValida("314.15926-4", "RO"));
  // Seven characters, all digits: the start would be 0, so the digits stand as they are.
  QVERIFY(IEValida("1592637", "RO"));
  QVERIFY(!IEValida("1592647", "RO"));
  // A start beyond the last digit empties the digits: all zeros, which is valid.
  QVERIFY(IEValida("1234567--------------", "RO"));
  // An accented letter is one character, though two bytes.
  QVERIFY(
      IEValida("314\xC3\xA9"
               "15926-3",
               "RO"));
}

// ---- IE: generated numbers ---------------------------------------------------------------------

void TstValidators::ieGenerated_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("uf");
  for (const char* code : kAllUnits) QTest::newRow(code) << QString(code);
  // clang-format on
}

void TstValidators::ieGenerated() {
  QFETCH(QString, uf);
  const std::string u = uf.toStdString();
  Rng rng;
  rng.gen.seed(std::hash<std::string>{}(u));
  int validSeen = 0;
  for (int round = 0; round < 300; ++round) {
    const Generated g = generateIE(u, rng);
    QVERIFY(!g.text.empty());
    for (const std::string& t : fillings(g)) {
      const bool expected = g.valid.count(t) > 0;
      QVERIFY2(IEValida(sv(t), sv(u)) == expected,
               (t + (expected ? " should be valid" : " should be invalid")).c_str());
    }
    validSeen += int(g.valid.size());
    // Punctuation does not matter, except to RO (raw length) and the rural SP letter in front.
    if (u != "RO" && g.text[0] != 'P')
      for (const std::string& t : g.valid) QVERIFY2(IEValida(sv(punctuated(t, rng)), sv(u)), t.c_str());
  }
  QVERIFY(validSeen > 100);
}

// ---- Bad input ---------------------------------------------------------------------------------

void TstValidators::badInputNeverFails() {
  // Odd bytes are plain non-digits: the result is that of the digits alone.
  const std::string junk = "\xFF\xFE\x80\xC0 \t\r\n\x1B[m\xF0\x9F\x98\x80";
  for (const char* code : kAllUnits) {
    if (std::string_view(code) == "RO") continue;
    const std::string n = "3141592653553";
    QCOMPARE(IEValida(sv(junk + n + junk), code), IEValida(sv(n), code));
  }
  QVERIFY(CPFValida(sv(junk + "314" + junk + "15926590")));
  QVERIFY(!CNPJValida(sv(junk + "31415926000172" + junk)));
}

void TstValidators::nonAsciiDigitsAreNotDigits() {
  const std::string arabicOne = "\xD9\xA1", fullwidthOne = "\xEF\xBC\x91", devanagariOne = "\xE0\xA5\xA7",
                    superscriptOne = "\xC2\xB9";
  for (const std::string& one : {arabicOne, fullwidthOne, devanagariOne, superscriptOne}) {
    // 31415926591 is a wrong CPF; with its last digit non-ASCII only ten digits remain, and the
    // missing eleventh counts as 0, which is right.
    QVERIFY(CPFValida(sv("3141592659" + one)));
    // The CNPJ that needs its final 1 loses it.
    QVERIFY(!CNPJValida(sv("3141592600017" + one)));
    QVERIFY(IEValida(sv("203141598" + one), "RN"));
    QVERIFY(!IEValida(sv("203141592" + one), "RN"));  // 2031415921 cut to nine digits
  }
  // Only non-ASCII digits: no digits at all.
  QVERIFY(CPFValida("\xD9\xA3\xD9\xA1\xD9\xA4\xD9\xA1\xD9\xA5\xD9\xA9\xD9\xA2\xD9\xA6\xD9\xA5\xD9\xA9\xD9\xA1"));
  QVERIFY(!IEValida("\xEF\xBC\x90\xEF\xBC\x90", "AM"));
}

void TstValidators::nulBytesAreNonDigits() {
  using namespace std::string_view_literals;
  QVERIFY(
      CPFValida("314\0"
                "159\0"
                "265-90"sv));
  QVERIFY(
      !CPFValida("314\0"
                 "159\0"
                 "265-91"sv));
  QVERIFY(
      CNPJValida("\0\0"
                 "31415926000171\0"sv));
  QVERIFY(
      !IEValida("3141592693\0"
                "58"sv,
                "SP"));
  QVERIFY(
      IEValida("3141592693\0"
               "57"sv,
               "SP"));
  // A code with a NUL in it is no code: exempt.
  QVERIFY(IEValida("314159269358", "SP\0"sv));
  QVERIFY(!IEValida("314159269358", "SP"sv));
}

void TstValidators::megabyteTexts() {
  const size_t mb = size_t(1) << 20;
  QVERIFY(CPFValida(sv("31415926590" + repeat('7', mb))));  // digits after the eleventh unread
  QVERIFY(!CPFValida(sv(repeat('x', mb) + "31415926591")));
  QVERIFY(CNPJValida(sv(repeat('.', mb) + "31.415.926/0001-71" + repeat('-', mb))));
  QVERIFY(CPFValida(sv(repeat('a', mb))));
  for (const char* code : kAllUnits) {
    if (std::string_view(code) == "RO") continue;
    // Past the sixteenth digit, the count and the digits no longer change the outcome.
    const std::string head = "3141592653553";
    QCOMPARE(IEValida(sv(head + repeat('8', mb)), code), IEValida(sv(head + repeat('8', 10)), code));
    QCOMPARE(IEValida(sv(repeat(' ', mb) + head), code), IEValida(sv(head), code));
  }
  // RO over a megabyte of digits: the window is digits L-7 to L-2, so the last two are not read.
  const std::string ones = repeat('1', mb - 8);
  QVERIFY(IEValida(sv(ones + "111112" + "99"), "RO"));
  QVERIFY(!IEValida(sv(ones + "111113" + "99"), "RO"));
  // Random bytes: the digits are what counts (RO aside, its window follows the raw length).
  std::mt19937 gen(7);
  std::string noise(mb, '\0');
  for (char& c : noise) c = char(gen());
  std::string digits;
  for (char c : noise)
    if (c >= '0' && c <= '9' && digits.size() < 16) digits += c;
  QVERIFY(digits.size() == 16);
  QCOMPARE(CPFValida(sv(noise)), CPFValida(sv(digits)));
  QCOMPARE(CNPJValida(sv(noise)), CNPJValida(sv(digits)));
  for (const char* code : kAllUnits)
    if (std::string_view(code) != "RO") QCOMPARE(IEValida(sv(noise), code), IEValida(sv(digits), code));
}

void TstValidators::qstringForms() {
  QVERIFY(CPFValida(QStringLiteral("314.159.265-90")));
  QVERIFY(!CPFValida(QStringLiteral("314.159.265-91")));
  QVERIFY(CNPJValida(QStringLiteral("31.415.926/0001-71")));
  QVERIFY(IEValida(QStringLiteral("314.15926-3"), QStringLiteral("RO")));
  QVERIFY(IEValida(QStringLiteral("314é15926-3"), QStringLiteral("RO")));
  QVERIFY(!IEValida(QStringLiteral("314.159.269.358"), QStringLiteral("SP")));
  QVERIFY(IEValida(QStringLiteral("314.159.269.358"), QStringLiteral("sp")));
  // An embedded NUL neither ends the text nor makes a code match.
  QString cpf = QStringLiteral("314.159.265-91");
  cpf.insert(3, QChar(0));
  QVERIFY(!CPFValida(cpf));
  QVERIFY(IEValida(QStringLiteral("314.159.269.358"), QStringLiteral("SP") + QChar(0)));
  // Full-width digits in a QString are not digits either.
  QVERIFY(!CNPJValida(QStringLiteral("3141592600017") + QChar(0xFF11)));
}

QTEST_APPLESS_MAIN(TstValidators)
#include "tst_validators.moc"
