#pragma once
#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <functional>

#include "gui/widgets/interaction.h"

// Stands in for the person at the screen: records every message, dialog and browser opening,
// and answers from a script (or with the first offered button when nothing is scripted).
class Recorder : public Interaction {
 public:
  struct Message {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;  // of a question
    QString details;                                                    // technical text shown apart
  };

  Recorder() { Interaction::install(this); }
  ~Recorder() override { Interaction::install(nullptr); }

  QList<Message> messages;
  QStringList fileDialogs;  // captions of the file dialogs asked for
  QList<QUrl> openedUrls;
  QStringList passwordPrompts;
  QList<QStringList> certificateDialogs;  // title and prompt of each certificate dialog

  QQueue<QMessageBox::StandardButton> answers;  // buttons to press, in order
  QQueue<QString> files;                        // files to choose (empty text = cancel)
  QQueue<std::optional<QString>> passwords;
  QQueue<std::optional<QByteArray>> certificates;  // DER to choose (nullopt or nothing left = cancel)
  bool browserResult = true;
  // Runs while a message box is "on screen" (for instance to check what the window shows then).
  std::function<void(const Message&)> onMessage;

  QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                      const QString& text, QMessageBox::StandardButtons buttons,
                                      QMessageBox::StandardButton defaultButton) override;
  // Unscripted, a question is answered with its default button (what Enter would press).
  QMessageBox::StandardButton question(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                       const QString& text, QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton defaultButton) override;
  void detailedMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                       const QString& details) override;
  QString openFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) override;
  // Recorded and answered like openFileName, from the same queue.
  QString saveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                       const QString& filter) override;
  std::optional<QString> password(QWidget* parent, const QString& title, const QString& prompt) override;
  bool openUrl(const QUrl& url) override;
  std::optional<QByteArray> selectCertificate(QWidget* parent, const QString& title, const QString& prompt) override;

  QStringList texts() const;
  QString lastText() const { return messages.isEmpty() ? QString() : messages.last().text; }
  void clear();
};
