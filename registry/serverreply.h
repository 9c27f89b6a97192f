#pragma once
#include <QDateTime>
#include <QString>
#include <optional>

// The plain pieces of the server's answers: the fixed-width fields and a transmission of the list.
// Here, below transmission/, because the access key reads the fields and the session keeps the rows.
namespace Transmissions {

struct Row {
  QString referencia;
  QString data;
  QString protocolo;
  QString status;
  QString adicionado;
};

// The text without the blanks (spaces) at its ends.
QString TrimBlanks(const QString& text);

// Characters from..to (1-based, inclusive) of text; what lies beyond the end is left out.
QString Field(const QString& text, int from, int to);
// The server's date, blanks around it ignored: "dd/MM/yyyy", "dd-MM-yyyy", "dd.MM.yyyy",
// "yyyy-MM-dd", "yyyy/MM/dd" then " HH:mm:ss", or "yyyy-MM-ddTHH:mm:ss", each also without the
// seconds; nullopt for anything else.
std::optional<QDateTime> ParseServerDate(const QString& text);

struct ServerFields {
  QString date;     // 32-50
  QString year;     // 59-67
  QString version;  // 78-97
};
ServerFields FieldsOf(const QString& result);

}  // namespace Transmissions
