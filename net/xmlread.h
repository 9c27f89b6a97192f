#pragma once
#include <QXmlStreamReader>

// Every XML text the program reads (server answers and the documents inside them) is refused when
// it carries a document type declaration: no answer needs one, and its entities could expand to
// gigabytes or name local files. Call after each readNext().
inline bool RefuseDoctype(QXmlStreamReader& xml) {
  if (xml.tokenType() != QXmlStreamReader::DTD) return false;
  xml.raiseError(QStringLiteral("Declaração de tipo de documento (DOCTYPE) recusada"));
  return true;
}
