#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

class QFileDialog;
class QWidget;

// The one place where the program asks the person in front of it something or hands work to
// the desktop: message boxes, file dialogs, passwords, the certificate dialog and the browser.
// Tests install a recorder that answers as scripted, so no test waits on a dialog. Other programs
// are run through the runner of base/processrunner.h, which tests replace the same way.
class Interaction {
 public:
  virtual ~Interaction() = default;

  // A message box; returns the button pressed. defaultButton is the one Enter presses (NoButton: Qt's choice).
  virtual QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                              const QString& text, QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton) = 0;
  // A question whose default button (the one Enter presses) is given; returns the button pressed.
  virtual QMessageBox::StandardButton question(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                               const QString& text, QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton) {
    return message(parent, icon, title, text, buttons, defaultButton);
  }
  // A message whose technical text (an engine's or a server's words) is kept apart, shown on demand.
  virtual void detailedMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                               const QString& details) {
    message(parent, icon, title, details.isEmpty() ? text : text + QStringLiteral("\r\n\r\n") + details,
            QMessageBox::Ok, QMessageBox::NoButton);
  }
  // Open-file dialog; an empty text when cancelled.
  virtual QString openFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) = 0;
  // Save-file dialog starting at `suggested` (a path); an empty text when cancelled.
  virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                               const QString& filter) = 0;
  // Asks for a password (PKCS#12 import); nullopt when cancelled.
  virtual std::optional<QString> password(QWidget* parent, const QString& title, const QString& prompt) = 0;
  // Shows an address in the browser.
  virtual bool openUrl(const QUrl& url) = 0;
  // Certificate selection from the user's store; the chosen certificate's DER, nullopt when cancelled.
  virtual std::optional<QByteArray> selectCertificate(QWidget* parent, const QString& title, const QString& prompt) = 0;

  static Interaction& current();
  // Installs another implementation (tests); nullptr restores the real one. Not owned.
  static void install(Interaction* replacement);
};

// The application title of message boxes that give none of their own.
inline const QString kAppTitle = QStringLiteral("ZIDE");
// The title most of the program's messages carry.
inline const QString kMsgTitle = QStringLiteral("DUZO - Zaruvo r Azurera - RO");

// Shorthands over Interaction::current().
void MsgBoxDetails(QWidget* parent, const QString& text, const QString& details, QMessageBox::Icon icon,
                   const QString& title);
QMessageBox::StandardButton MsgBox(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::NoIcon,
                                   const QString& title = kAppTitle,
                                   QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                   QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// Fits the columns of Qt's own file dialog inside it: sized for English titles and a wide name
// column, they ran past its right edge and "Data de modificação" showed cut off. The name column
// takes what the others leave. Nothing to do for a dialog of the desktop's own.
void FitFileDialogColumns(QFileDialog* dialog);
// The dates of the file list in Brazilian Portuguese, whatever the system's language.
void ShowDatesInPortuguese(QFileDialog* dialog);
