#include "validation/validators.h"

#include <array>
#include <cstdint>

// Everything here works on raw bytes: only '0'..'9' are digits, so a multi-byte UTF-8 character (an
// Arabic-Indic or full-width digit, say) never counts, and NUL or invalid UTF-8 are just non-digits.

namespace {

// No rule reads beyond digit 14, and the length tests (PE: 13 or more, RN: exactly 10) only need to
// know whether the count reached a small bound, so collection stops after kCap digits.
constexpr int kCap = 16;

struct Digits {
  std::array<std::uint8_t, kCap + 1> d{};  // d[i] is digit i (1-based); missing positions stay 0
  int count = 0;                           // digits seen, saturating at kCap

  int operator[](int i) const { return (i >= 1 && i <= kCap) ? d[i] : 0; }
};

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

Digits digitsOf(std::string_view text) {
  Digits g;
  for (char c : text) {
    if (!isDigit(c)) continue;
    g.d[++g.count] = std::uint8_t(c - '0');
    if (g.count == kCap) break;
  }
  return g;
}

// 11 - R, where remainders 0 and 1 (and so 10 and 11) give 0.
inline int standardDigit(int sum) {
  const int k = 11 - sum % 11;
  return k >= 10 ? 0 : k;
}

// ---- The table-driven engine -------------------------------------------------------------------

// How a weighted sum turns into a check digit.
enum class Fold : std::uint8_t {
  Standard,   // 11 - (S mod 11), 10 and 11 becoming 0
  Remainder,  // S mod 11, 10 becoming 0
  TimesTen,   // (S * 10) mod 11, 10 becoming 0
  ModNine,    // S mod 9
};

// One check digit: weights by position (index 0 is digit 1; a 0 weight means the digit is not read),
// the position it is compared with, and the fold.
struct Check {
  std::array<std::uint8_t, 14> weight;
  std::uint8_t at;
  Fold fold;
};

int weightedSum(const Digits& g, const Check& c) {
  int s = 0;
  for (int i = 0; i < int(c.weight.size()); ++i) s += c.weight[i] * g[i + 1];
  return s;
}

int fold(int s, Fold f) {
  switch (f) {
    case Fold::Standard: return standardDigit(s);
    case Fold::Remainder: {
      const int r = s % 11;
      return r == 10 ? 0 : r;
    }
    case Fold::TimesTen: {
      const int r = (s * 10) % 11;
      return r == 10 ? 0 : r;
    }
    case Fold::ModNine: return s % 9;
  }
  return -1;
}

bool passes(const Digits& g, const Check& c) { return fold(weightedSum(g, c), c.fold) == g[c.at]; }

// A rule of one or two check digits; the second is computed only when the first matches.
struct Rule {
  Check first;
  bool hasSecond;
  Check second;
};

bool apply(const Digits& g, const Rule& r) { return passes(g, r.first) && (!r.hasSecond || passes(g, r.second)); }

constexpr Check kNineToTwo{{9, 8, 7, 6, 5, 4, 3, 2}, 9, Fold::Standard};

constexpr Rule kAC{{{4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}, 12, Fold::Standard},
                   true,
                   {{5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}, 13, Fold::Standard}};
constexpr Rule kNineWeights{kNineToTwo, false, {}};
constexpr Rule kMT{{{3, 2, 9, 8, 7, 6, 5, 4, 3, 2}, 11, Fold::Standard}, false, {}};
constexpr Rule kPR{
    {{3, 2, 7, 6, 5, 4, 3, 2}, 9, Fold::Standard}, true, {{4, 3, 2, 7, 6, 5, 4, 3, 2}, 10, Fold::Standard}};
constexpr Rule kPEShort{{{8, 7, 6, 5, 4, 3, 2}, 8, Fold::Standard}, true, kNineToTwo};
constexpr Rule kPELong{{{5, 4, 3, 2, 1, 9, 8, 7, 6, 5, 4, 3, 2}, 14, Fold::Standard}, false, {}};
constexpr Rule kRJ{{{2, 7, 6, 5, 4, 3, 2}, 8, Fold::Standard}, false, {}};
constexpr Rule kRNTen{{{10, 9, 8, 7, 6, 5, 4, 3, 2}, 10, Fold::Standard}, false, {}};
constexpr Rule kRS{{{2, 9, 8, 7, 6, 5, 4, 3, 2}, 10, Fold::Standard}, false, {}};
constexpr Rule kTO{{{9, 8, 0, 0, 7, 6, 5, 4, 3, 2}, 11, Fold::Standard}, false, {}};  // d3, d4 unread
constexpr Rule kRO{{{6, 5, 4, 3, 2}, 6, Fold::Standard}, false, {}};
constexpr Rule kAL{{kNineToTwo.weight, 9, Fold::TimesTen}, false, {}};
constexpr Rule kRR{{{1, 2, 3, 4, 5, 6, 7, 8}, 9, Fold::ModNine}, false, {}};
constexpr Rule kSPRural{{{1, 3, 4, 5, 6, 7, 8, 10}, 9, Fold::Remainder}, false, {}};
constexpr Rule kSP{kSPRural.first, true, {{3, 2, 10, 9, 8, 7, 6, 5, 4, 3, 2}, 12, Fold::Remainder}};
constexpr Check kMGSecond{{3, 2, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2}, 13, Fold::Standard};

// ---- The rules of their own shape -------------------------------------------------------------

// The numeric value of the first eight digits (fewer if there are fewer), leading zeros dropped.
long leadingNumber(const Digits& g) {
  long n = 0;
  for (int i = 1; i <= 8 && i <= g.count; ++i) n = n * 10 + g[i];
  return n;
}

bool ruleAM(const Digits& g) {
  const int s = weightedSum(g, kNineToTwo);
  const int k = s < 11 ? 11 - s : standardDigit(s);  // S = 0 gives 11, S = 1 gives 10: no digit matches
  return k == g[9];
}

bool ruleAP(const Digits& g) {
  if (g[1] != 0 || g[2] != 3) return true;  // not an AP number: exempt
  const long n = leadingNumber(g);
  int p = 0, q = 0;
  if (n >= 3000001 && n <= 3017000) p = 5;
  else if (n >= 3017001 && n <= 3019022) p = 9, q = 1;
  const int k = 11 - (p + weightedSum(g, kNineToTwo)) % 11;
  return (k == 10 ? 0 : k == 11 ? q : k) == g[9];
}

// Check digits are d7 and d8; d8, the one computed first, also picks the modulus.
bool ruleBA(const Digits& g) {
  static constexpr Check first{{7, 6, 5, 4, 3, 2}, 8, Fold::Standard};
  static constexpr Check second{{8, 7, 6, 5, 4, 3}, 7, Fold::Standard};
  const int d8 = g[8];
  const bool modTen = d8 <= 5 || d8 == 8;
  auto digitOf = [modTen](int s) {
    if (!modTen) return standardDigit(s);
    const int r = s % 10;
    return r == 0 ? 0 : 10 - r;
  };
  const int k8 = digitOf(weightedSum(g, first));
  if (k8 != d8) return false;
  return digitOf(weightedSum(g, second) + k8 * 2) == g[7];
}

bool ruleGO(const Digits& g) {
  const int r = weightedSum(g, kNineToTwo) % 11;
  const long n = leadingNumber(g);
  if (n == 11094402 && r <= 1) return true;
  if (r == 1) return n >= 10103105 && n <= 10119997;  // d9 is not examined either way
  if (r == 0) return true;
  return 11 - r == g[9];
}

// First digit: digit sum of d1 d2 d3 0 d4 ... d11 weighted alternately 1, 2, up to the next ten.
bool ruleMG(const Digits& g) {
  const std::array<int, 12> seq{g[1], g[2], g[3], 0, g[4], g[5], g[6], g[7], g[8], g[9], g[10], g[11]};
  int t = 0;
  for (int i = 0; i < 12; ++i) {
    const int product = seq[i] * (i % 2 == 0 ? 1 : 2);
    t += product / 10 + product % 10;
  }
  const int k1 = (t / 10 + 1) * 10 - t;
  if ((k1 == 10 ? 0 : k1) != g[12]) return false;
  return passes(g, kMGSecond);
}

bool rulePE(const Digits& g) { return apply(g, g.count < 13 ? kPEShort : kPELong); }

bool ruleRN(const Digits& g) { return apply(g, g.count == 10 ? kRNTen : kNineWeights); }

// Number of characters of the raw text: UTF-8 lead bytes, so an accented letter counts once.
long characterCount(std::string_view raw) {
  long n = 0;
  for (unsigned char c : raw) n += (c & 0xC0) != 0x80;
  return n;
}

// When the digits run past six, the six that begin at position (characters - 7) are checked, which
// makes the result depend on the punctuation of the raw text.
bool ruleRO(std::string_view raw) {
  const long start = characterCount(raw) - 7;
  Digits head, window;
  long count = 0;
  for (char c : raw) {
    if (!isDigit(c)) continue;
    ++count;
    if (count <= 6) head.d[count] = std::uint8_t(c - '0');
    if (start >= 1 && count >= start && count < start + 6) window.d[count - start + 1] = std::uint8_t(c - '0');
    if (count >= 7 && (start < 1 || count >= start + 5)) break;  // nothing later is read
  }
  // Six digits or fewer, or a start below 1: the digits stand as they are. A start past the end
  // leaves the window empty, that is all zeros.
  const bool cut = count > 6 && start >= 1;
  return apply(cut ? window : head, kRO);
}

bool ruleSP(std::string_view raw, const Digits& g) {
  if (!raw.empty() && raw.front() == 'P') return apply(g, kSPRural);  // rural producer format
  return apply(g, kSP);
}

// ---- Dispatch by state code -------------------------------------------------------------------

enum class Kind : std::uint8_t { Table, AM, AP, BA, GO, MG, PE, RN, RO, SP };

struct Unit {
  char code[3];
  Kind kind;
  const Rule* rule;  // for Kind::Table
};

constexpr std::array<Unit, 27> kUnits{{
    {"AC", Kind::Table, &kAC},          {"AL", Kind::Table, &kAL},          {"AM", Kind::AM, nullptr},
    {"AP", Kind::AP, nullptr},          {"BA", Kind::BA, nullptr},          {"CE", Kind::Table, &kNineWeights},
    {"DF", Kind::Table, &kAC},          {"ES", Kind::Table, &kNineWeights}, {"GO", Kind::GO, nullptr},
    {"MA", Kind::Table, &kNineWeights}, {"MG", Kind::MG, nullptr},          {"MS", Kind::Table, &kNineWeights},
    {"MT", Kind::Table, &kMT},          {"PA", Kind::Table, &kNineWeights}, {"PB", Kind::Table, &kNineWeights},
    {"PE", Kind::PE, nullptr},          {"PI", Kind::Table, &kNineWeights}, {"PR", Kind::Table, &kPR},
    {"RJ", Kind::Table, &kRJ},          {"RN", Kind::RN, nullptr},          {"RO", Kind::RO, nullptr},
    {"RR", Kind::Table, &kRR},          {"RS", Kind::Table, &kRS},          {"SC", Kind::Table, &kNineWeights},
    {"SE", Kind::Table, &kNineWeights}, {"SP", Kind::SP, nullptr},          {"TO", Kind::Table, &kTO},
}};

const Unit* findUnit(std::string_view uf) {
  if (uf.size() != 2) return nullptr;
  for (const Unit& u : kUnits)
    if (u.code[0] == uf[0] && u.code[1] == uf[1]) return &u;
  return nullptr;
}

}  // namespace

bool CPFValida(std::string_view text) {
  static constexpr Rule kCPF{
      {{10, 9, 8, 7, 6, 5, 4, 3, 2}, 10, Fold::Standard}, true, {{11, 10, 9, 8, 7, 6, 5, 4, 3, 2}, 11, Fold::Standard}};
  return apply(digitsOf(text), kCPF);
}

bool CNPJValida(std::string_view text) {
  static constexpr Rule kCNPJ{{{5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}, 13, Fold::Standard},
                              true,
                              {{6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}, 14, Fold::Standard}};
  return apply(digitsOf(text), kCNPJ);
}

bool IEUnidadeConhecida(std::string_view uf) { return findUnit(uf) != nullptr; }

bool IEValida(std::string_view ie, std::string_view uf) {
  const Unit* unit = findUnit(uf);
  if (!unit) return true;  // no rule for this code: exempt
  if (unit->kind == Kind::RO) return ruleRO(ie);
  const Digits g = digitsOf(ie);
  switch (unit->kind) {
    case Kind::Table: return apply(g, *unit->rule);
    case Kind::AM: return ruleAM(g);
    case Kind::AP: return ruleAP(g);
    case Kind::BA: return ruleBA(g);
    case Kind::GO: return ruleGO(g);
    case Kind::MG: return ruleMG(g);
    case Kind::PE: return rulePE(g);
    case Kind::RN: return ruleRN(g);
    case Kind::SP: return ruleSP(ie, g);
    case Kind::RO: break;
  }
  return true;
}
