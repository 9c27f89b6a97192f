#pragma once
#include <QByteArray>
#include <QString>

class QWidget;

// The whole file; when it cannot be found, opened or read, shows the failure (caption "ERROR",
// error icon) and gives an empty content, with which the caller goes on.
QByteArray ReadFileBytes(const QString& path, QWidget* parent = nullptr);
