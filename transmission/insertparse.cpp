#include "transmission/insertparse.h"

namespace {

class Reader {
 public:
  explicit Reader(QStringView s) : s_(s) {}

  void blanks() {
    while (i_ < s_.size() && s_[i_].isSpace()) ++i_;
  }
  bool atEnd() {
    blanks();
    return i_ >= s_.size();
  }
  bool take(QChar c) {
    blanks();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool keyword(QLatin1StringView word) {
    blanks();
    if (s_.size() - i_ < word.size() || s_.mid(i_, word.size()).compare(word, Qt::CaseInsensitive) != 0) return false;
    const qsizetype after = i_ + word.size();
    if (after < s_.size() && (s_[after].isLetterOrNumber() || s_[after] == u'_')) return false;
    i_ = after;
    return true;
  }
  // A plain name, or one between double quotes with "" for a quote.
  bool identifier(QString* out) {
    blanks();
    out->clear();
    if (i_ < s_.size() && s_[i_] == u'"') {
      for (++i_; i_ < s_.size(); ++i_) {
        if (s_[i_] == u'"') {
          if (i_ + 1 < s_.size() && s_[i_ + 1] == u'"') {
            *out += u'"';
            ++i_;
            continue;
          }
          ++i_;
          return !out->isEmpty();
        }
        *out += s_[i_];
      }
      return false;
    }
    while (i_ < s_.size() && (s_[i_].isLetterOrNumber() || s_[i_] == u'_' || s_[i_] == u'$')) *out += s_[i_++];
    return !out->isEmpty();
  }
  // 'text' with '' for an apostrophe; i_ stands on the opening apostrophe.
  bool quoted(QString* out) {
    for (++i_; i_ < s_.size(); ++i_) {
      if (s_[i_] == u'\'') {
        if (i_ + 1 < s_.size() && s_[i_ + 1] == u'\'') {
          *out += u'\'';
          ++i_;
          continue;
        }
        ++i_;
        return true;
      }
      *out += s_[i_];
    }
    return false;
  }
  // char(13, 10): the characters with those codes.
  bool charCall(QString* out) {
    if (!keyword(QLatin1StringView("char")) || !take(u'(')) return false;
    do {
      blanks();
      qsizetype start = i_;
      while (i_ < s_.size() && s_[i_].isDigit()) ++i_;
      bool ok = false;
      const int code = s_.mid(start, i_ - start).toInt(&ok);
      if (!ok || code < 0 || code > 0xFFFF) return false;
      *out += QChar(char16_t(code));
    } while (take(u','));
    return take(u')');
  }
  bool number(QString* out) {
    blanks();
    const qsizetype start = i_;
    if (i_ < s_.size() && (s_[i_] == u'-' || s_[i_] == u'+')) ++i_;
    bool digits = false;
    while (i_ < s_.size() && (s_[i_].isDigit() || s_[i_] == u'.')) digits |= s_[i_++].isDigit();
    if (digits && i_ < s_.size() && (s_[i_] == u'e' || s_[i_] == u'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == u'-' || s_[i_] == u'+')) ++i_;
      while (i_ < s_.size() && s_[i_].isDigit()) ++i_;
    }
    if (!digits) return i_ = start, false;
    *out = s_.mid(start, i_ - start).toString();
    return true;
  }
  bool value(jet::Value* v) {
    blanks();
    if (i_ >= s_.size()) return false;
    if (keyword(QLatin1StringView("NULL"))) return *v = jet::Value(), true;
    if ((s_[i_] == u'X' || s_[i_] == u'x') && i_ + 1 < s_.size() && s_[i_ + 1] == u'\'') {
      ++i_;
      QString hex;
      if (!quoted(&hex) || hex.size() % 2) return false;
      const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
      if (bytes.size() * 2 != hex.size()) return false;
      *v = jet::Value(bytes);
      return true;
    }
    if (s_[i_] == u'\'' || s_[i_] == u'c' || s_[i_] == u'C') {
      // A text, possibly in pieces joined with ||.
      QString text;
      do {
        blanks();
        if (i_ < s_.size() && s_[i_] == u'\'') {
          if (!quoted(&text)) return false;
        } else if (!charCall(&text)) {
          return false;
        }
        blanks();
      } while (i_ + 1 < s_.size() && s_[i_] == u'|' && s_[i_ + 1] == u'|' && (i_ += 2));
      *v = jet::Value(text);
      return true;
    }
    QString n;
    if (!number(&n)) return false;
    *v = jet::Value(n);
    return true;
  }

 private:
  QStringView s_;
  qsizetype i_ = 0;
};

}  // namespace

bool parseInsert(QStringView statement, ParsedInsert* out, QString* error) {
  Reader r(statement);
  out->columns.clear();
  out->values.clear();
  auto refuse = [error](const char* why) {
    *error = QString::fromUtf8(why);
    return false;
  };
  if (!r.keyword(QLatin1StringView("INSERT")) || !r.keyword(QLatin1StringView("INTO")) || !r.identifier(&out->table))
    return refuse("comando não permitido");
  if (!r.take(u'(')) return refuse("lista de colunas ausente");
  QString name;
  do {
    if (!r.identifier(&name)) return refuse("nome de coluna inválido");
    out->columns << name;
  } while (r.take(u','));
  if (!r.take(u')') || !r.keyword(QLatin1StringView("VALUES")) || !r.take(u'(')) return refuse("VALUES ausente");
  do {
    jet::Value v;
    if (!r.value(&v)) return refuse("valor inválido");
    out->values.push_back(std::move(v));
  } while (r.take(u','));
  if (!r.take(u')')) return refuse("valor inválido");
  r.take(u';');
  if (!r.atEnd()) return refuse("mais de um comando na mesma linha");
  if (out->values.size() != size_t(out->columns.size())) return refuse("número de valores diferente do de colunas");
  return true;
}
