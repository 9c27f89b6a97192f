// The SOAP endpoint: Transferencia.ver2, .ver, .contador and .ecnpj.
#include <QXmlStreamReader>

#include "sandboxserver.h"

namespace {
struct SoapCall {
  QString operation;
  QList<QPair<QString, QString>> params;  // in the order received
  QString value(int position, const QString& name) const {
    for (const auto& p : params)
      if (p.first == name) return p.second;
    return position < params.size() ? params[position].second : QString();
  }
};

QString esc(const QString& s) { return s.toHtmlEscaped(); }

HttpResponse envelope(const QString& operation, const QString& result) {
  HttpResponse r;
  r.contentType = "application/soap+xml; charset=utf-8";
  r.operation = operation;
  r.body = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
            "xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
            "<SOAP-ENV:Body><ns1:" +
            operation + "Response xmlns:ns1=\"urn:zide\"><return xsi:type=\"xsd:string\">" + esc(result) +
            "</return></ns1:" + operation + "Response></SOAP-ENV:Body></SOAP-ENV:Envelope>")
               .toUtf8();
  return r;
}

HttpResponse fault(const QString& code, const QString& text, const QString& operation = QString()) {
  HttpResponse r;
  r.status = 500;
  r.contentType = "application/soap+xml; charset=utf-8";
  r.operation = operation.isEmpty() ? QStringLiteral("fault") : operation + " fault";
  r.body =
      ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\">"
       "<env:Body><env:Fault><env:Code><env:Value>env:" +
       code +
       "</env:Value></env:Code><env:Reason>"
       "<env:Text xml:lang=\"en\">" +
       esc(text) + "</env:Text></env:Reason></env:Fault></env:Body></env:Envelope>")
          .toUtf8();
  return r;
}

// Envelope > Body > operation > parameters; the operation element's name is the operation.
bool parseCall(const QByteArray& body, SoapCall* call, QString* error) {
  QXmlStreamReader xml(body);
  int depth = 0;
  QString name, text;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement:
        ++depth;
        if (depth == 3 && call->operation.isEmpty()) call->operation = xml.name().toString();
        if (depth == 4) {
          name = xml.name().toString();
          text.clear();
        }
        break;
      case QXmlStreamReader::Characters:
        if (depth >= 4) text += xml.text();
        break;
      case QXmlStreamReader::EndElement:
        if (depth == 4) call->params.append({name, text});
        --depth;
        break;
      case QXmlStreamReader::DTD: xml.raiseError(QStringLiteral("DTD not allowed")); break;
      default: break;
    }
  }
  if (xml.hasError()) {
    *error = xml.errorString();
    return false;
  }
  if (call->operation.isEmpty()) {
    *error = QStringLiteral("no operation element");
    return false;
  }
  return true;
}

// Positions the client reads: 32-50 the date, 59-67 the working year, 78-97 the newest version.
QString listaTransferencias(SandboxServer& server, const QString& ie) {
  const SandboxConfig& cfg = server.config();
  QString doc = "<listaTransferencias servidor=\"" + server.serverDate() + "\" anos=\"" +
                cfg.anoTrabalho.leftJustified(9) + "\" versao=\"" + cfg.versao.leftJustified(20) + "\">";
  for (const Transmissao& t : server.data().transmissoes(ie)) {
    doc += "<transferencia><referencia>" + esc(t.referencia) + "</referencia><data>" + esc(t.data) +
           "</data><protocolo>" + esc(t.protocolo) + "</protocolo><status>" + QString::number(t.status) +
           "</status><adicionado>" + esc(t.adicionado) + "</adicionado></transferencia>";
  }
  return doc + "</listaTransferencias>";
}

QString detalhes(const Transmissao& t) {
  QString doc = "<detalhes><transmissao PROTOCOLO=\"" + esc(t.protocolo) + "\"><DETALHE>" +
                esc(QStringLiteral("Protocolo %1 recebido em %2").arg(t.protocolo, t.data)) + "</DETALHE><IE>" +
                esc(t.ie) + "</IE><REFERENCIA>" + esc(t.referencia) + "</REFERENCIA><DATA>" + esc(t.data) +
                "</DATA><STATUS>" + QString::number(t.status) + "</STATUS><TIPO>" + esc(t.tipo) + "</TIPO><ARQUIVO>" +
                esc(t.arquivo) + "</ARQUIVO><VALOR>" + esc(t.adicionado) + "</VALOR></transmissao>";
  if (!t.mensagem.isEmpty())
    doc += "<mensagem PROTOCOLO=\"" + esc(t.protocolo) + "\"><DETALHE>" + esc(t.mensagem) + "</DETALHE><CODIGO>" +
           (t.gia.isEmpty() ? QStringLiteral("1") : esc(t.gia)) + "</CODIGO></mensagem>";
  return doc + "</detalhes>";
}

// Date at 21-39, Simples flag at 51, key at 61-68.
QString chaveEcnpj(const QString& date, const Contribuinte& c) {
  return QStringLiteral("ZIDE CHAVE DATAHORA=") + date + QStringLiteral(" OPTANTESN=") + (c.simples ? 'S' : 'N') +
         QStringLiteral(" CHAVEAC=") + c.chave;
}
}  // namespace

HttpResponse HandleSoap(SandboxServer& server, const HttpRequest& req) {
  SoapCall call;
  QString error;
  if (!parseCall(req.body, &call, &error)) return fault("Sender", "SOAP-ERROR: Parsing: " + error);
  const QString op = call.operation;
  SandboxData& data = server.data();

  if (op == "Transferencia.ver2") {
    const auto c = data.contribuinteByIe(call.value(0, "strNome"));
    if (!c) return envelope(op, "NAO_AUTORIZADO");
    if (c->chave != call.value(2, "Chave")) return envelope(op, "CHAVE_INVALIDA");
    return envelope(op, listaTransferencias(server, c->ie));
  }
  if (op == "Transferencia.ver") {
    const auto t = data.transmissaoByProtocolo(call.value(0, "strNome"));
    if (!t) return envelope(op, "NAO_AUTORIZADO");
    const auto c = data.contribuinteByIe(t->ie);
    if (!c || c->chave != call.value(2, "Chave")) return envelope(op, "CHAVE_INVALIDA");
    return envelope(op, detalhes(*t));
  }
  if (op == "Transferencia.contador") {
    data.addContadorCall(call.params);
    return envelope(op, "CONTADOR_CADASTRADO");
  }
  if (op == "Transferencia.ecnpj") {
    const auto c = data.contribuinteByIe(call.value(0, "ie"));
    if (call.value(2, "key") != QLatin1String("!QORTENBAL!") || !c || c->cnpj.isEmpty() ||
        SandboxData::digits(call.value(1, "cnpj")) != c->cnpj)
      return envelope(op, "NAO_AUTORIZADO");
    return envelope(op, chaveEcnpj(server.serverDate(), *c));
  }
  return fault("Sender", "Procedure '" + op + "' not present", op);
}
