#include "transmission/transmissions.h"

#include <QDomDocument>
#include <QFile>
#include <QXmlStreamReader>

#include "base/appfolder.h"
#include "base/cp1252.h"
#include "net/xmlread.h"

namespace Transmissions {

// Blanks only: a marker with a tab or a line break around it is another text.
bool IsInvalidKey(const QString& listText) {
  return TrimBlanks(listText).compare(QLatin1String("CHAVE_INVALIDA"), Qt::CaseInsensitive) == 0;
}

bool IsAccessRefused(const QString& text) { return text.contains(QLatin1String("CHAVE_I")); }

namespace {
// The element's whole text, its children's included, read without recursion: readElementText
// recurses once per nested level, and a deeply nested answer would overflow the stack.
QString elementText(QXmlStreamReader& xml) {
  QString text;
  for (int level = 1; level > 0 && !xml.atEnd();) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement: ++level; break;
      case QXmlStreamReader::EndElement: --level; break;
      case QXmlStreamReader::Characters:
      case QXmlStreamReader::EntityReference: text += xml.text(); break;
      case QXmlStreamReader::DTD: RefuseDoctype(xml); break;
      default: break;
    }
  }
  return text;
}
}  // namespace

std::optional<QList<Row>> ParseList(const QString& listText) {
  // A streaming read: lists can be long, and nothing the document names is fetched.
  QXmlStreamReader xml(listText);
  QList<Row> rows;
  int depth = 0;
  bool rightRoot = false;
  Row current;
  bool inRow = false;
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    if (RefuseDoctype(xml)) break;
    if (token == QXmlStreamReader::StartElement) {
      ++depth;
      const auto name = xml.name();
      if (depth == 1) {
        rightRoot = (name == QLatin1String("listaTransferencias"));
      } else if (depth == 2 && rightRoot && name == QLatin1String("transferencia")) {
        current = Row();
        inRow = true;
      } else if (depth == 3 && inRow) {
        QString* cell = nullptr;
        if (name == QLatin1String("referencia")) cell = &current.referencia;
        else if (name == QLatin1String("data")) cell = &current.data;
        else if (name == QLatin1String("protocolo")) cell = &current.protocolo;
        else if (name == QLatin1String("status")) cell = &current.status;
        else if (name == QLatin1String("adicionado")) cell = &current.adicionado;
        // The child's whole text content; a later duplicate replaces the earlier one.
        if (cell) {
          *cell = elementText(xml);
          --depth;
        }
      }
    } else if (token == QXmlStreamReader::EndElement) {
      if (depth == 2 && inRow) {
        rows.append(current);
        inRow = false;
      }
      --depth;
    }
  }
  if (xml.hasError()) return std::nullopt;
  return rows;
}

std::optional<QString> ReadVersionFile() {
  QFile f(AppFolder::shipped(QStringLiteral("info.dip")));
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = f.read(1024 * 1024);
  if (f.error() != QFileDevice::NoError) return std::nullopt;
  return fromCp1252(bytes);
}

bool IsCurrent(const QString& rawResponse, const std::optional<QString>& versionText) {
  return versionText && rawResponse.contains(*versionText);
}

QString ReceiptUrl(const QString& host, const QString& ie, const QString& chave, const QString& referencia) {
  QString ref = referencia;
  ref.remove(QLatin1Char(' '));
  return QStringLiteral("http://") + host + QStringLiteral("/protocoloDown.php?IE=") + ie + QStringLiteral("&key=") +
         chave + QStringLiteral("&ref=") + ref;
}

std::optional<Details> ParseDetails(const QString& xml, QString* error) {
  // QDomDocument builds and frees its tree recursively: a document nested far deeper than any
  // details answer would overflow the stack (or take minutes), so it is refused before the DOM.
  constexpr int kMaxDepth = 256;
  {
    QXmlStreamReader scan(xml);
    int depth = 0;
    while (!scan.atEnd()) {
      const auto token = scan.readNext();
      if (RefuseDoctype(scan)) {
        if (error) *error = scan.errorString();
        return std::nullopt;
      }
      if (token == QXmlStreamReader::EndElement) --depth;
      if (token == QXmlStreamReader::StartElement && ++depth > kMaxDepth) {
        if (error)
          *error = QStringLiteral("Documento com elementos aninhados demais (linha %1, coluna %2)")
                       .arg(scan.lineNumber())
                       .arg(scan.columnNumber());
        return std::nullopt;
      }
    }
  }
  QDomDocument doc;
  QString msg;
  int line = 0, column = 0;
  if (!doc.setContent(xml, &msg, &line, &column)) {
    if (error) *error = QStringLiteral("%1 (linha %2, coluna %3)").arg(msg).arg(line).arg(column);
    return std::nullopt;
  }
  Details d;
  const QDomElement root = doc.documentElement();
  d.rootName = root.tagName();
  for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
    DetailNode n;
    const QString detalhe = e.firstChildElement(QStringLiteral("DETALHE")).text();
    n.text = detalhe.size() < 3 ? e.tagName() + QStringLiteral(": ") + detalhe : QStringLiteral("DIZIZ : ") + detalhe;
    if (e.hasAttributes()) n.tag = e.attribute(QStringLiteral("PROTOCOLO"));
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) n.children.append(c.text());
    d.nodes.append(n);
  }
  return d;
}

}  // namespace Transmissions
