#include "gui/transmission/uploadui.h"

#include "gui/widgets/interaction.h"
#include "net/upload.h"

QByteArray ReadFileBytes(const QString& path, QWidget* parent) {
  QString error;
  QByteArray bytes = TryReadFileBytes(path, &error);
  if (!error.isEmpty()) MsgBox(parent, error, QMessageBox::Critical, QStringLiteral("ERROR"));
  return bytes;
}
