#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// The messages for the refusal markers found in an answer, in the order of the markers.
QStringList SimplesRefusalMessages(const QString& answer);

// The reference ("MM/aaaa") the municipality records for a Simples Nacional document: the first
// month/year written in its bytes, else the month it is received (the server's date). Empty when
// neither is known.
QString SimplesReference(const QByteArray& content, const QDateTime& serverDate);
