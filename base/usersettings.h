#pragma once
#include <QString>

// The user's own choices kept from one run to the next (zide-usuario.ini in the data folder), apart
// from diziz.ini, which belongs to the installation. Keys are "section/name". A missing file or key
// reads as the empty text.
QString ReadUserSetting(const QString& key);
void WriteUserSetting(const QString& key, const QString& value);
