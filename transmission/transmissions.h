#pragma once
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "registry/serverreply.h"

class QDomElement;

// What the server tells about a taxpayer: its transmissions, date, working year and newest version.
namespace Transmissions {

// The whole text, trimmed of blanks and without regard to case, is "CHAVE_INVALIDA".
bool IsInvalidKey(const QString& listText);
// "CHAVE_I" anywhere, case-sensitive: access refused.
bool IsAccessRefused(const QString& text);

// The transferencia elements of a listaTransferencias document, in document order.
// nullopt when the text is not well-formed XML or declares a document type; another root element
// gives no rows.
std::optional<QList<Row>> ParseList(const QString& listText);

// The installed version file's whole text; nullopt when it is missing or unreadable.
std::optional<QString> ReadVersionFile();
// Whether the raw answer names the installed version (a missing version file never matches).
bool IsCurrent(const QString& rawResponse, const std::optional<QString>& versionText);

// The receipt address: blanks removed from the reference, nothing encoded.
QString ReceiptUrl(const QString& host, const QString& ie, const QString& chave, const QString& referencia);

// A details document parsed for the tree: the root's name and one entry per child element.
struct DetailNode {
  QString text;
  QString tag;  // the PROTOCOLO attribute, when the element has attributes
  QStringList children;
};
struct Details {
  QString rootName;
  QList<DetailNode> nodes;
};
// Parses without fetching anything the document names and refuses a document type declaration;
// on failure *error holds the reason.
std::optional<Details> ParseDetails(const QString& xml, QString* error);

}  // namespace Transmissions
