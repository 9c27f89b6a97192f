#include "registry/deliveryreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "base/cp1252.h"

namespace DeliveryReport {

namespace {
struct Field {
  const char* caption;
  const char* key;
  QString (*value)(const DeliveryStore::Delivery&);
};

const Field kFields[] = {
    {"Data", "data", [](const DeliveryStore::Delivery& d) { return DateText(d); }},
    {"Tipo", "tipo", [](const DeliveryStore::Delivery& d) { return d.tipo; }},
    {"IE", "ie", [](const DeliveryStore::Delivery& d) { return d.ie; }},
    {"Razão social", "razao_social", [](const DeliveryStore::Delivery& d) { return d.razaoSocial; }},
    {"Contador", "contador", [](const DeliveryStore::Delivery& d) { return d.contador; }},
    {"Arquivo", "arquivo", [](const DeliveryStore::Delivery& d) { return d.arquivo; }},
    {"Tamanho (bytes)", "tamanho", [](const DeliveryStore::Delivery& d) { return QString::number(d.tamanho); }},
    {"SHA-256", "sha256", [](const DeliveryStore::Delivery& d) { return d.sha256; }},
    {"Referências", "referencias", [](const DeliveryStore::Delivery& d) { return d.referencias; }},
    {"HTTP", "http_status",
     [](const DeliveryStore::Delivery& d) { return d.httpStatus ? QString::number(d.httpStatus) : QString(); }},
    {"Veredito", "veredito", [](const DeliveryStore::Delivery& d) { return d.veredito; }},
    {"Protocolos", "protocolos", [](const DeliveryStore::Delivery& d) { return d.protocolos; }},
    {"Linhas por tabela", "tabelas", [](const DeliveryStore::Delivery& d) { return d.tabelas; }},
    {"Resposta", "resposta", [](const DeliveryStore::Delivery& d) { return AnswerText(d); }},
};

QString csvField(QString v) {
  if (!v.isEmpty() && QStringLiteral("=+-@").contains(v.front())) v.prepend(QLatin1Char('\''));
  if (v.contains(QLatin1Char(';')) || v.contains(QLatin1Char('"')) || v.contains(QLatin1Char('\n')) ||
      v.contains(QLatin1Char('\r')))
    return QLatin1Char('"') + v.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
  return v;
}
}  // namespace

QString AnswerText(const DeliveryStore::Delivery& d) { return fromCp1252(d.resposta); }

QString DateText(const DeliveryStore::Delivery& d) { return d.data.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")); }

QString Csv(const QList<DeliveryStore::Delivery>& rows) {
  QStringList header;
  for (const Field& f : kFields) header << csvField(QString::fromUtf8(f.caption));
  QString out = header.join(QLatin1Char(';')) + QStringLiteral("\r\n");
  for (const DeliveryStore::Delivery& d : rows) {
    QStringList line;
    for (const Field& f : kFields) line << csvField(f.value(d));
    out += line.join(QLatin1Char(';')) + QStringLiteral("\r\n");
  }
  return out;
}

QByteArray Json(const QList<DeliveryStore::Delivery>& rows) {
  QJsonArray array;
  for (const DeliveryStore::Delivery& d : rows) {
    QJsonObject o;
    for (const Field& f : kFields) o.insert(QString::fromLatin1(f.key), f.value(d));
    o.insert(QStringLiteral("tamanho"), d.tamanho);
    o.insert(QStringLiteral("http_status"), d.httpStatus);
    array.append(o);
  }
  return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QString Text(const QList<DeliveryStore::Delivery>& rows) {
  QStringList blocks;
  for (const DeliveryStore::Delivery& d : rows) {
    QString block;
    for (const Field& f : kFields) {
      if (QLatin1String(f.key) == QLatin1String("resposta")) continue;  // long; the other formats carry it
      block += QString::fromUtf8(f.caption) + QStringLiteral(": ") + f.value(d) + QLatin1Char('\n');
    }
    blocks << block;
  }
  return blocks.join(QLatin1Char('\n'));
}

}  // namespace DeliveryReport
