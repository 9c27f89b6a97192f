#pragma once
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

class QDomElement;

// What the server tells about a taxpayer: its transmissions, date, working year and newest version.
namespace Transmissions {

struct Row {
  QString referencia;
  QString data;
  QString protocolo;
  QString status;
  QString adicionado;
};

// The whole text, trimmed and without regard to case, is "CHAVE_INVALIDA".
bool IsInvalidKey(const QString& listText);
// "CHAVE_I" anywhere, case-sensitive: access refused.
bool IsAccessRefused(const QString& text);

// The transferencia elements of a listaTransferencias document, in document order.
// nullopt when the text is not well-formed XML; another root element gives no rows.
std::optional<QList<Row>> ParseList(const QString& listText);

// Characters from..to (1-based, inclusive) of text; what lies beyond the end is left out.
QString Field(const QString& text, int from, int to);
// The server's date: "dd/MM/yyyy HH:mm:ss" or "yyyy-MM-dd HH:mm:ss"; nullopt for anything else.
std::optional<QDateTime> ParseServerDate(const QString& text);

struct ServerFields {
  QString date;     // 32-50
  QString year;     // 59-67
  QString version;  // 78-97
};
ServerFields FieldsOf(const QString& result);

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
// Parses without fetching anything the document names; on failure *error holds the reason.
std::optional<Details> ParseDetails(const QString& xml, QString* error);

}  // namespace Transmissions
