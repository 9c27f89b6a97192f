#include "transmission/verdict.h"

#include <QRegularExpression>
#include <QSet>

#include "base/cp1252.h"

namespace Verdict {

namespace {
// What a reason quotes at most: the page of an error status may be long.
constexpr qsizetype kReasonLimit = 600;

QString decodeEntities(const QString& text) {
  static const QHash<QString, QChar> named = {{"amp", '&'},
                                              {"lt", '<'},
                                              {"gt", '>'},
                                              {"quot", '"'},
                                              {"apos", '\''},
                                              {"nbsp", QChar(0xA0)},
                                              {"aacute", QChar(0xE1)},
                                              {"eacute", QChar(0xE9)},
                                              {"iacute", QChar(0xED)},
                                              {"oacute", QChar(0xF3)},
                                              {"uacute", QChar(0xFA)},
                                              {"atilde", QChar(0xE3)},
                                              {"otilde", QChar(0xF5)},
                                              {"acirc", QChar(0xE2)},
                                              {"ecirc", QChar(0xEA)},
                                              {"ocirc", QChar(0xF4)},
                                              {"agrave", QChar(0xE0)},
                                              {"ccedil", QChar(0xE7)},
                                              {"Aacute", QChar(0xC1)},
                                              {"Eacute", QChar(0xC9)},
                                              {"Iacute", QChar(0xCD)},
                                              {"Oacute", QChar(0xD3)},
                                              {"Uacute", QChar(0xDA)},
                                              {"Atilde", QChar(0xC3)},
                                              {"Otilde", QChar(0xD5)},
                                              {"Acirc", QChar(0xC2)},
                                              {"Ecirc", QChar(0xCA)},
                                              {"Ocirc", QChar(0xD4)},
                                              {"Ccedil", QChar(0xC7)}};
  static const QRegularExpression entity(QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[A-Za-z]{2,8});"));
  QString out;
  qsizetype at = 0;
  for (auto it = entity.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    out += text.mid(at, m.capturedStart() - at);
    at = m.capturedEnd();
    const QString name = m.captured(1);
    char32_t code = 0;
    bool ok = false;
    if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#X")))
      code = name.mid(2).toUInt(&ok, 16);
    else if (name.startsWith(QLatin1Char('#'))) code = name.mid(1).toUInt(&ok, 10);
    else if (named.contains(name)) {
      out += named.value(name);
      continue;
    }
    // Control characters and what is no character stay out of a message.
    if (ok && code >= 0x20 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) && code != 0x7F)
      out += QString::fromUcs4(&code, 1);
    else if (!ok) out += m.captured(0);
  }
  out += text.mid(at);
  return out;
}
}  // namespace

const QStringList& RefusalMarkers() {
  // The server's own refusals, and the sandbox's "nothing to record" pages.
  static const QStringList markers = {QStringLiteral("ARQUIVO INVALIDO"), QStringLiteral("CHAVE_INVALIDA"),
                                      QStringLiteral("NAO_AUTORIZADO"), QStringLiteral("ARQUIVO NAO RECEBIDO"),
                                      QStringLiteral("NENHUMA GIA INFORMADA")};
  return markers;
}

QString PlainText(const QByteArray& answer) {
  QString text = fromCp1252(answer);
  static const QRegularExpression hidden(
      QStringLiteral("<(head|script|style)\\b.*?</\\1\\s*>|<!--.*?-->"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression breaks(QStringLiteral("<(br|/p|/h[1-6]|/tr|/div|/li|/title)\\b[^>]*>"),
                                         QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression cells(QStringLiteral("</t[dh]\\s*>"), QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
  text.remove(hidden);
  text.replace(breaks, QStringLiteral("\n"));
  text.replace(cells, QStringLiteral(" "));
  text.remove(tags);
  text = decodeEntities(text);
  QStringList lines;
  for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\r\n]")))) {
    QString clean;
    for (QChar c : line) clean += (c.isSpace() || c.category() == QChar::Other_Control) ? QChar(' ') : c;
    clean = clean.simplified();
    if (!clean.isEmpty()) lines << clean;
  }
  return lines.join(QLatin1Char('\n'));
}

QByteArray Body(const QByteArray& answer) {
  if (!answer.startsWith("HTTP/")) return answer;
  const qsizetype crlf = answer.indexOf("\r\n\r\n");
  const qsizetype lf = answer.indexOf("\n\n");
  if (crlf < 0 && lf < 0) return QByteArray();
  if (crlf >= 0 && (lf < 0 || crlf < lf)) return answer.mid(crlf + 4);
  return answer.mid(lf + 2);
}

AnswerReading ReadAnswer(int httpStatus, const QByteArray& whole) {
  AnswerReading r;
  // The reason is the page: the status line and the headers are no words of the server's.
  const QByteArray answer = Body(whole);
  const QString raw = fromCp1252(answer);
  bool marked = false;
  for (const QString& m : RefusalMarkers()) marked = marked || raw.contains(m);
  const bool ok = httpStatus >= 200 && httpStatus < 300;
  if (ok && !marked) return r;
  r.refused = true;
  const QString plain = PlainText(answer);
  QStringList quoted;
  for (const QString& line : plain.split(QLatin1Char('\n'))) {
    for (const QString& m : RefusalMarkers())
      if (line.contains(m)) {
        quoted << line;
        break;
      }
  }
  // A marker inside a tag or split by one: the page's text, whole.
  r.reason = quoted.isEmpty() ? plain : quoted.join(QLatin1Char('\n'));
  if (r.reason.size() > kReasonLimit) r.reason = r.reason.left(kReasonLimit) + QStringLiteral("…");
  if (!ok && r.reason.isEmpty()) r.reason = QStringLiteral("HTTP %1").arg(httpStatus);
  return r;
}

QList<Reference> FromRows(const QList<ReferenceRow>& rows) {
  QList<Reference> out;
  for (const ReferenceRow& r : rows) out.append({r.key, ReferenceMonth(r.text), false, {}});
  return out;
}

QList<Reference> Confirm(const QList<Reference>& sent, const QList<Transmissions::Row>& before,
                         const QList<Transmissions::Row>& after, const std::optional<QDateTime>& sentAt) {
  QSet<QString> known;
  for (const Transmissions::Row& r : before)
    if (!r.protocolo.trimmed().isEmpty()) known.insert(r.protocolo.trimmed());
  QSet<QString> taken;  // one listed row confirms one reference
  QList<Reference> out = sent;
  for (Reference& ref : out) {
    ref.confirmed = false;
    ref.protocolo.clear();
    for (const Transmissions::Row& row : after) {
      const QString protocolo = row.protocolo.trimmed();
      if (protocolo.isEmpty() || taken.contains(protocolo)) continue;
      if (!ref.month.isEmpty() && Transmissions::TrimBlanks(row.referencia) != ref.month) continue;
      bool fresh = !known.contains(protocolo);
      if (!fresh && sentAt) {
        // The list's dates keep whole seconds: a row of the second the send began is the send's.
        const QDateTime from = sentAt->addMSecs(-sentAt->time().msec());
        const auto date = Transmissions::ParseServerDate(row.data);
        fresh = date && *date >= from;
      }
      if (!fresh) continue;
      ref.confirmed = true;
      ref.protocolo = protocolo;
      taken.insert(protocolo);
      break;
    }
  }
  return out;
}

QString OutcomeName(Outcome o) {
  switch (o) {
    case Outcome::Confirmed: return QStringLiteral("registrado");
    case Outcome::Unconfirmed: return QStringLiteral("não confirmado");
    case Outcome::Refused: return QStringLiteral("recusado");
    case Outcome::NoAnswer: return QStringLiteral("sem resposta");
    case Outcome::NotSent: return QStringLiteral("não enviado");
  }
  return QString();
}

QString Result::protocols() const {
  QStringList out;
  for (const Reference& r : references)
    if (r.confirmed) out << r.protocolo;
  return out.join(QStringLiteral(", "));
}

Result Judge(bool handedOver, bool answered, int httpStatus, const QByteArray& answer, const QList<Reference>& sent,
             const QList<Transmissions::Row>& before, const std::optional<QList<Transmissions::Row>>& after,
             const std::optional<QDateTime>& sentAt) {
  Result r;
  r.httpStatus = httpStatus;
  r.references = sent;
  if (!handedOver) return r;
  r.listRead = after.has_value();
  if (after) r.references = Confirm(sent, before, *after, sentAt);
  bool all = !r.references.isEmpty();
  for (const Reference& ref : r.references) all = all && ref.confirmed;
  if (!answered) {
    // Without the server's word the window stays, even when the list shows what it recorded.
    r.outcome = Outcome::NoAnswer;
    return r;
  }
  const AnswerReading reading = ReadAnswer(httpStatus, answer);
  if (reading.refused) {
    r.outcome = Outcome::Refused;
    r.reason = reading.reason;
    return r;
  }
  r.outcome = all ? Outcome::Confirmed : Outcome::Unconfirmed;
  return r;
}

QString ReferenceLines(const Result& r) {
  QStringList lines;
  for (const Reference& ref : r.references) {
    const QString name = ref.month.isEmpty() ? QStringLiteral("Declaração") : ref.month;
    lines << name + (ref.confirmed ? QStringLiteral(": registrada, protocolo ") + ref.protocolo
                                   : QStringLiteral(": não consta na lista do servidor"));
  }
  return lines.join(QStringLiteral("\r\n"));
}

QString Message(const Result& r, const QString& extra) {
  const QString tail = extra.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + extra;
  const QString unread =
      r.listRead ? QString()
                 : QStringLiteral("\r\n\r\nA lista de transmissões não pôde ser lida do servidor para conferir.");
  switch (r.outcome) {
    case Outcome::Confirmed:
      return QStringLiteral("A prefeitura registrou a declaração.\r\n\r\n") + ReferenceLines(r) + tail;
    case Outcome::Unconfirmed:
      return QStringLiteral(
                 "O servidor aceitou o envio, mas nem tudo o que foi enviado consta na lista de "
                 "transmissões da prefeitura:\r\n\r\n") +
             ReferenceLines(r) + unread +
             QStringLiteral(
                 "\r\n\r\nA janela continua aberta: confira a lista da janela principal e envie de novo "
                 "o que não consta.") +
             tail;
    case Outcome::Refused:
      return QStringLiteral("A prefeitura recusou a declaração. O servidor respondeu:\r\n\r\n\"") + r.reason +
             QStringLiteral("\"\r\n\r\n") + ReferenceLines(r) + unread +
             QStringLiteral("\r\n\r\nCorrija o que o servidor apontou e envie de novo.") + tail;
    case Outcome::NoAnswer:
      return QStringLiteral("A declaração pode não ter chegado à prefeitura: ") +
             (r.reason.isEmpty() ? QStringLiteral("o servidor não respondeu") : r.reason) +
             QStringLiteral(
                 ".\r\n\r\nA lista de transmissões da janela principal foi atualizada para conferir. Veja "
                 "se a declaração aparece nela antes de enviar de novo.\r\n\r\n") +
             ReferenceLines(r) + unread + tail;
    case Outcome::NotSent: return QStringLiteral("A declaração não foi enviada: ") + r.reason + QLatin1Char('.') + tail;
  }
  return QString();
}

}  // namespace Verdict
