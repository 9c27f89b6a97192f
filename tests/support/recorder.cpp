#include "recorder.h"

QMessageBox::StandardButton Recorder::message(QWidget*, QMessageBox::Icon icon, const QString& title,
                                              const QString& text, QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton) {
  Message m{icon, title, text, buttons, defaultButton, {}};
  messages.append(m);
  if (onMessage) onMessage(m);
  if (!answers.isEmpty()) return answers.dequeue();
  for (int b = QMessageBox::FirstButton; b <= QMessageBox::LastButton; b <<= 1)
    if (buttons.testFlag(static_cast<QMessageBox::StandardButton>(b)))
      return static_cast<QMessageBox::StandardButton>(b);
  return QMessageBox::Ok;
}

void Recorder::detailedMessage(QWidget*, QMessageBox::Icon icon, const QString& title, const QString& text,
                               const QString& details) {
  Message m{icon, title, text, QMessageBox::Ok, QMessageBox::NoButton, details};
  messages.append(m);
  if (onMessage) onMessage(m);
  if (!answers.isEmpty()) answers.dequeue();
}

QMessageBox::StandardButton Recorder::question(QWidget*, QMessageBox::Icon icon, const QString& title,
                                               const QString& text, QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton) {
  Message m{icon, title, text, buttons, defaultButton, {}};
  messages.append(m);
  if (onMessage) onMessage(m);
  if (!answers.isEmpty()) return answers.dequeue();
  return defaultButton;
}

QString Recorder::openFileName(QWidget*, const QString& caption, const QString&, const QString&) {
  fileDialogs.append(caption);
  return files.isEmpty() ? QString() : files.dequeue();
}

std::optional<QString> Recorder::password(QWidget*, const QString&, const QString& prompt) {
  passwordPrompts.append(prompt);
  return passwords.isEmpty() ? std::nullopt : passwords.dequeue();
}

bool Recorder::openUrl(const QUrl& url) {
  openedUrls.append(url);
  return browserResult;
}

std::optional<QByteArray> Recorder::selectCertificate(QWidget*, const QString& title, const QString& prompt) {
  certificateDialogs.append({title, prompt});
  return certificates.isEmpty() ? std::nullopt : certificates.dequeue();
}

QString Recorder::saveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                               const QString& filter) {
  return openFileName(parent, caption, suggested, filter);
}

QStringList Recorder::texts() const {
  QStringList t;
  for (const Message& m : messages) t.append(m.text);
  return t;
}

void Recorder::clear() {
  messages.clear();
  fileDialogs.clear();
  openedUrls.clear();
  passwordPrompts.clear();
  certificateDialogs.clear();
}
