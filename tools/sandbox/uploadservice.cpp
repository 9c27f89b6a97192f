// The two upload endpoints and the receipt page.
#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

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

QString sha1Hex(const QByteArray& content) {
  return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
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
  const ZideUploadCheck check = CheckZideUpload(u.part.content, u.contribuinte.ie, gias);
  if (!check.accepted)
    return page(200, "ZIDE", "<p>ARQUIVO INVALIDO - " + check.refusal.toHtmlEscaped() + "</p>", op + " recusado");
  const QString sha1 = sha1Hex(u.part.content);
  if (!server.data().addTableCounts(sha1, check.rowCounts))
    return page(500, "ZIDE", "ERRO AO GRAVAR A TRANSMISSAO", op + " erro");
  const QString date = server.serverDate();
  QString html = "<h1>Declaração recebida</h1>\r\n<p>ARQUIVO RECEBIDO: " + u.part.fileName.toHtmlEscaped() + " (" +
                 QString::number(u.part.content.size()) + " bytes)</p>\r\n";
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
    t.tamanho = u.part.content.size();
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
QStringList SimplesRefusals(const QByteArray& content) {
  QStringList out;
  const QByteArray upper = content.toUpper();
  if (upper.contains("EXTRATO")) out << QStringLiteral("ARQUIVO INVALIDO - EXTRATO");
  if (upper.contains("RECIBO")) out << QStringLiteral("ARQUIVO INVALIDO - RECIBO");
  const bool pdf = content.startsWith("%PDF-") && content.right(1024).contains("%%EOF");
  static const QRegularExpression printed(QStringLiteral("/Producer\\s*\\([^)]*Print"),
                                          QRegularExpression::CaseInsensitiveOption);
  if (!pdf || content.count("%%EOF") > 1 || printed.match(QString::fromLatin1(content)).hasMatch())
    out << QStringLiteral("ARQUIVO INVALIDO - MODIFICADO");
  return out;
}

HttpResponse HandleUploadSimples(SandboxServer& server, const HttpRequest& req) {
  const QString op = QStringLiteral("upload Simples");
  Upload u;
  if (auto refused = readUpload(server, req, QStringLiteral("Simples Nacional"), op, &u)) return *refused;
  const QStringList refusals = SimplesRefusals(u.part.content);
  if (!refusals.isEmpty()) {
    QString html;
    for (const QString& r : refusals) html += "<p>" + r + "</p>\r\n";
    return page(200, "Simples Nacional", html, op + " recusado");
  }
  // The period of the declaration: the first "MM/yyyy" in the file, else the month of receipt.
  static const QRegularExpression period(QStringLiteral("(?<![0-9/])(0[1-9]|1[0-2])/((?:19|20)[0-9]{2})(?![0-9])"));
  const auto m = period.match(QString::fromLatin1(u.part.content));
  const QString date = server.serverDate();
  Transmissao t;
  t.ie = u.contribuinte.ie;
  t.referencia = m.hasMatch() ? m.captured(0) : date.mid(3, 7);
  t.data = date;
  t.status = 1;
  t.adicionado = QStringLiteral("0,00");
  t.tipo = QStringLiteral("SIMPLES");
  t.contador = u.query.value("contador");
  t.arquivo = u.part.fileName;
  t.tamanho = u.part.content.size();
  t.sha1 = sha1Hex(u.part.content);
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
