#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

#include "registry/deliverystore.h"

// The journal of deliveries as the "Envios" window exports it and the command line prints it.
namespace DeliveryReport {

// The answer kept with a row, as text (Windows-1252, as the server writes it).
QString AnswerText(const DeliveryStore::Delivery& d);
// Date as the windows show it: "dd/MM/yyyy HH:mm:ss".
QString DateText(const DeliveryStore::Delivery& d);

// One header line, then one line per row; fields separated by ";", quoted when they hold ";", a
// quote or a line break (quotes doubled), lines ended by CR LF. A text that a spreadsheet would run
// as a formula (=, +, -, @ first) gets an apostrophe in front.
QString Csv(const QList<DeliveryStore::Delivery>& rows);
// An array of objects, one per row, UTF-8.
QByteArray Json(const QList<DeliveryStore::Delivery>& rows);
// One block of "Campo: valor" lines per row, blocks separated by a blank line.
QString Text(const QList<DeliveryStore::Delivery>& rows);

}  // namespace DeliveryReport
