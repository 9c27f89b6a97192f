// The two upload endpoints and the receipt page.
#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

#include "accesscheck.h"
#include "base/cp1252.h"
#include "multipart.h"
#include "sandboxserver.h"

namespace {
HttpResponse page(int status, const QString& title, const QString& bodyHtml, const QString& operation) {
  HttpResponse r;
  r.status = status;
  r.operation = operation;
  r.body =
      toCp1252("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\"><title>" +
               title.toHtmlEscaped() + "</title></head><body>\r\n" + bodyHtml + "\r\n</body></html>\r\n");
  return r;
}

// "MM/yyyy" of a date read as yyyy-MM-dd.
QString monthYear(const QString& isoDate) {
  const QDate d = QDate::fromString(isoDate.left(10), QStringLiteral("yyyy-MM-dd"));
  return d.isValid() ? d.toString(QStringLiteral("MM/yyyy")) : QString();
}

QString sha1Hex(const FilePart& part) {
  QCryptographicHash hash(QCryptographicHash::Sha1);
  if (part.file) {
    part.file->seek(0);
    hash.addData(part.file.get());
  } else {
    hash.addData(part.content);
  }
  return QString::fromLatin1(hash.result().toHex());
}

qsizetype indexOfNoCase(QByteArrayView text, QByteArrayView word, qsizetype from = 0) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
  const auto at = std::search(text.begin() + from, text.end(), word.begin(), word.end(),
                              [&](char a, char b) { return lower(a) == lower(b); });
  return at == text.end() ? -1 : at - text.begin();
}
bool containsNoCase(QByteArrayView text, QByteArrayView word) { return indexOfNoCase(text, word) >= 0; }

// A "/Producer" whose "(...)" value names "Print" (any case).
bool printedToPdf(QByteArrayView text) {
  for (qsizetype at = indexOfNoCase(text, "/producer"); at >= 0; at = indexOfNoCase(text, "/producer", at + 1)) {
    qsizetype i = at + 9;
    while (i < text.size() && QByteArrayView(" \t\r\n\f\v").contains(text[i])) ++i;
    if (i >= text.size() || text[i] != '(') continue;
    const qsizetype close = text.indexOf(')', i);
    if (containsNoCase(text.sliced(i + 1, (close < 0 ? text.size() : close) - i - 1), "print")) return true;
  }
  return false;
}

// The first "MM/yyyy" (month 01-12, year 19xx or 20xx) not glued to other digits or slashes.
QString firstPeriod(QByteArrayView t) {
  const auto digit = [&](qsizetype i) { return i >= 0 && i < t.size() && t[i] >= '0' && t[i] <= '9'; };
  for (qsizetype at = t.indexOf('/'); at >= 0; at = t.indexOf('/', at + 1)) {
    const qsizetype m = at - 2;
    if (m < 0 || !digit(m) || !digit(m + 1) || at + 4 >= t.size()) continue;
    if (m > 0 && (digit(m - 1) || t[m - 1] == '/')) continue;
    const int month = (t[m] - '0') * 10 + (t[m + 1] - '0');
    if (month < 1 || month > 12) continue;
    if (!digit(at + 1) || !digit(at + 2) || !digit(at + 3) || !digit(at + 4) || digit(at + 5)) continue;
    const QByteArrayView century = t.sliced(at + 1, 2);
    if (century != "19" && century != "20") continue;
    return QString::fromLatin1(t.sliced(m, 7));
  }
  return QString();
}

// What both uploads read first: the query, the taxpayer of its key and the file part.
struct Upload {
  QMap<QString, QString> query;
  Contribuinte contribuinte;
  FilePart part;
};

// The refusal page when the key is unknown or no file came; nullopt when *out is filled.
std::optional<HttpResponse> readUpload(SandboxServer& server, const HttpRequest& req, const QString& title,
                                       const QString& op, Upload* out) {
  out->query = ParseQuery(req.query);
  const auto c = server.data().contribuinteByChave(out->query.value("chave"));
  if (!c) return page(200, title, "CHAVE_INVALIDA", op + " chave inválida");
  out->contribuinte = *c;
  QString error;
  if (!parseMultipart(req, &out->part, &error) || out->part.field != QLatin1String("objArquivo"))
    return page(400, title,
                "ARQUIVO NAO RECEBIDO - " + (error.isEmpty() ? "campo objArquivo ausente" : error).toHtmlEscaped(),
                op + " sem arquivo");
  return std::nullopt;
}

QString protocolLine(const Transmissao& t) {
  return QStringLiteral("<p>PROTOCOLO=%1;REFERENCIA=%2;STATUS=%3</p>")
      .arg(t.protocolo, t.referencia.toHtmlEscaped())
      .arg(t.status);
}
}  // namespace

HttpResponse HandleUploadZide(SandboxServer& server, const HttpRequest& req) {
  const QString op = QStringLiteral("upload ZIDE");
  Upload u;
  if (auto refused = readUpload(server, req, QStringLiteral("ZIDE"), op, &u)) return *refused;
  const QStringList gias = u.query.value("gias").split(',', Qt::SkipEmptyParts);
  if (gias.isEmpty()) return page(200, "ZIDE", "NENHUMA GIA INFORMADA", op + " sem gias");

  // Only an Access declaration of the key's company, naming references it holds, is recorded.
  const ZideUploadCheck check = u.part.file ? CheckZideUploadFile(u.part.file->fileName(), u.contribuinte.ie, gias)
                                            : CheckZideUpload(u.part.content, u.contribuinte.ie, gias);
  if (!check.accepted)
    return page(200, "ZIDE", "<p>ARQUIVO INVALIDO - " + check.refusal.toHtmlEscaped() + "</p>", op + " recusado");
  const QString sha1 = sha1Hex(u.part);
  if (!server.data().addTableCounts(sha1, check.rowCounts))
    return page(500, "ZIDE", "ERRO AO GRAVAR A TRANSMISSAO", op + " erro");
  const QString date = server.serverDate();
  QString html = "<h1>Declaração recebida</h1>\r\n<p>ARQUIVO RECEBIDO: " + u.part.fileName.toHtmlEscaped() + " (" +
                 QString::number(u.part.size()) + " bytes)</p>\r\n";
  for (const QString& gia : gias) {
    Transmissao t;
    t.ie = u.contribuinte.ie;
    t.gia = gia.trimmed();
    const QString ref = monthYear(check.inicio.value(t.gia));
    t.referencia = ref.isEmpty() ? "GIA/" + t.gia : ref;
    t.status = 1;
    t.data = date;
    t.adicionado = QStringLiteral("0,00");
    t.tipo = QStringLiteral("ZIDE");
    t.contador = u.query.value("contador");
    t.arquivo = u.part.fileName;
    t.tamanho = u.part.size();
    t.sha1 = sha1;
    if (server.config().omitirReferencia && &gia == &gias.last()) {
      // Answered as recorded, never stored.
      t.protocolo = date.mid(6, 4) + QStringLiteral("999999");
      html += protocolLine(t) + "\r\n";
      continue;
    }
    const auto stored = server.data().addTransmissao(t);
    if (!stored) return page(500, "ZIDE", "ERRO AO GRAVAR A TRANSMISSAO", op + " erro");
    html += protocolLine(*stored) + "\r\n";
  }
  return page(200, "ZIDE", html, op);
}

// Refusals, each independent and answered in this order:
//   EXTRATO    the text "EXTRATO" (any case) in the file: the PGDAS extract, not the declaration;
//   RECIBO     the text "RECIBO" (any case): the delivery receipt;
//   MODIFICADO not a PDF at all ("%PDF-" at the start and "%%EOF" near the end), saved again
//              (more than one "%%EOF", an incremental update) or printed to PDF (a /Producer naming "Print").
// What the Simples refusals look at, read slice by slice (with an overlap, so nothing is missed
// at a seam): a file as large as the server takes is never held whole.
struct PdfScan {
  bool startsPdf = false, eofNearEnd = false, extrato = false, recibo = false, printed = false;
  int eofs = 0;
  QString period;
};

PdfScan scanPdf(const FilePart& part) {
  constexpr qsizetype kOverlap = 4096;
  constexpr qint64 kSlice = 1024 * 1024;
  PdfScan r;
  QByteArray carry;
  bool first = true;
  auto take = [&](const QByteArray& slice) {
    const QByteArray window = carry + slice;
    if (first) r.startsPdf = window.startsWith("%PDF-");
    first = false;
    r.extrato = r.extrato || containsNoCase(window, "EXTRATO");
    r.recibo = r.recibo || containsNoCase(window, "RECIBO");
    r.printed = r.printed || printedToPdf(window);
    // Counted once: a mark wholly inside the carried bytes was counted with the slice before.
    for (qsizetype at = window.indexOf("%%EOF", qMax<qsizetype>(0, carry.size() - 4)); at >= 0;
         at = window.indexOf("%%EOF", at + 1))
      ++r.eofs;
    if (r.period.isEmpty()) r.period = firstPeriod(window);
    carry = window.right(kOverlap);
  };
  QByteArray tail;
  if (part.file) {
    part.file->seek(0);
    for (QByteArray slice = part.file->read(kSlice); !slice.isEmpty(); slice = part.file->read(kSlice)) take(slice);
    part.file->seek(qMax<qint64>(0, part.size() - 1024));
    tail = part.file->read(1024);
  } else {
    take(part.content);
    tail = part.content.right(1024);
  }
  r.eofNearEnd = tail.contains("%%EOF");
  return r;
}

QStringList SimplesRefusals(const PdfScan& scan) {
  QStringList out;
  if (scan.extrato) out << QStringLiteral("ARQUIVO INVALIDO - EXTRATO");
  if (scan.recibo) out << QStringLiteral("ARQUIVO INVALIDO - RECIBO");
  const bool pdf = scan.startsPdf && scan.eofNearEnd;
  if (!pdf || scan.eofs > 1 || scan.printed) out << QStringLiteral("ARQUIVO INVALIDO - MODIFICADO");
  return out;
}

HttpResponse HandleUploadSimples(SandboxServer& server, const HttpRequest& req) {
  const QString op = QStringLiteral("upload Simples");
  Upload u;
  if (auto refused = readUpload(server, req, QStringLiteral("Simples Nacional"), op, &u)) return *refused;
  const PdfScan scan = scanPdf(u.part);
  const QStringList refusals = SimplesRefusals(scan);
  if (!refusals.isEmpty()) {
    QString html;
    for (const QString& r : refusals) html += "<p>" + r + "</p>\r\n";
    return page(200, "Simples Nacional", html, op + " recusado");
  }
  // The period of the declaration: the first "MM/yyyy" in the file, else the month of receipt.
  const QString date = server.serverDate();
  Transmissao t;
  t.ie = u.contribuinte.ie;
  t.referencia = scan.period.isEmpty() ? date.mid(3, 7) : scan.period;
  t.data = date;
  t.status = 1;
  t.adicionado = QStringLiteral("0,00");
  t.tipo = QStringLiteral("SIMPLES");
  t.contador = u.query.value("contador");
  t.arquivo = u.part.fileName;
  t.tamanho = u.part.size();
  t.sha1 = sha1Hex(u.part);
  t.protocolo = date.mid(6, 4) + QStringLiteral("999999");
  const auto stored =
      server.config().omitirReferencia ? std::optional<Transmissao>(t) : server.data().addTransmissao(t);
  if (!stored) return page(500, "Simples Nacional", "ERRO AO GRAVAR A TRANSMISSAO", op + " erro");
  return page(200, "Simples Nacional",
              "<h1>Declaração do Simples Nacional recebida</h1>\r\n<p>ARQUIVO RECEBIDO: " +
                  u.part.fileName.toHtmlEscaped() + "</p>\r\n" + protocolLine(*stored),
              op);
}

HttpResponse HandleProtocolo(SandboxServer& server, const HttpRequest& req) {
  const QString op = QStringLiteral("protocolo");
  const QMap<QString, QString> q = ParseQuery(req.query);
  const auto c = server.data().contribuinteByIe(q.value("IE"));
  if (!c || c->chave != q.value("key"))
    return page(200, "Protocolo", "<h1>Acesso não autorizado</h1><p>Inscrição ou chave inválida.</p>",
                op + " recusado");
  QString ref = q.value("ref");
  ref.remove(' ');
  QList<Transmissao> found;
  for (const Transmissao& t : server.data().transmissoes(c->ie))
    if (QString(t.referencia).remove(' ') == ref) found.append(t);
  if (found.isEmpty())
    return page(404, "Protocolo", "<h1>Nenhuma entrega encontrada</h1><p>Referência " + ref.toHtmlEscaped() + ".</p>",
                op + " inexistente");
  QString html = "<h1>Prefeitura Municipal de Tavarel</h1>\r\n<h2>Protocolo de entrega</h2>\r\n";
  for (const Transmissao& t : found) {
    html += "<table border=\"1\" cellpadding=\"4\">\r\n";
    const QList<QPair<QString, QString>> rows = {
        {"Protocolo", t.protocolo},
        {"Inscrição Estadual", t.ie},
        {"Referência", t.referencia},
        {"Data de Processamento", t.data},
        {"Declaração",
         t.tipo == "SIMPLES" ? QStringLiteral("Simples Nacional") : QStringLiteral("ZIDE - Débito e Crédito")},
        {"Arquivo", t.arquivo},
        {"Tamanho (bytes)", QString::number(t.tamanho)},
        {"Contador", t.contador},
        {"Situação", t.status == 1 ? QStringLiteral("Verificação concluída, sem mensagens.") : t.mensagem},
    };
    for (const auto& r : rows)
      html += "<tr><th align=\"left\">" + r.first + "</th><td>" + r.second.toHtmlEscaped() + "</td></tr>\r\n";
    html += "</table><br>\r\n";
  }
  return page(200, "Protocolo " + found.first().protocolo, html, op);
}
