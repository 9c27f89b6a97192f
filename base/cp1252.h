#pragma once
#include <QByteArray>
#include <QString>

// Windows-1252, the code page of the files and requests the municipality's systems use.
// Characters without a Windows-1252 byte become '?'.
QByteArray toCp1252(const QString& text);
QString fromCp1252(const QByteArray& bytes);
