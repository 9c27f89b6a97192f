#pragma once
#include <QString>
#include <QStringList>

// The messages for the refusal markers found in an answer, in the order of the markers.
QStringList SimplesRefusalMessages(const QString& answer);
