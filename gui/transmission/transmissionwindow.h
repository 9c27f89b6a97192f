#pragma once
#include <QByteArray>
#include <QString>
#include <QWidget>

#include "gui/registry/certificadodigital.h"
#include "gui/widgets/forms.h"

class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class Uploader;

// What the ZIDE and the Simples Nacional windows share: the drive, folder and file lists, the
// hidden technical boxes, the send progress, the accountant's certificate and the upload itself.
// The windows lay the controls out and decide what is sent where, and what an answer means.
//
// Controls made here (object names): Drive1, dir, file, ProgressBar1, lblSendSpeed, cmdUpload,
// Command2, and the hidden txtUploadFile, txtName, txtMIMEType, txtUrl, txtRequest, txtResponse.
class TransmissionWindow : public FormBase<QWidget> {
  Q_OBJECT
 public:
  TransmissionWindow();
  ~TransmissionWindow() override;

  // Form-level state, reset when the window loads.
  QString docContador;  // the accountant's CPF/CNPJ digits
  qint32 totalEnvio = 0;
  bool certificadoOk = false;
  bool conectado = false;

  // Handlers, public so that code (and tests) can stand in for a click.
  void Drive1_Change();
  void dir_Change();
  virtual void file_Click() = 0;
  virtual void cmdUpload_Click() = 0;
  void Command2_Click();

  // Shows a folder in the drive, folder and file lists (selects the drive that holds it).
  void setFolder(const QString& path);
  QString folder() const { return dirPath_; }
  // Selects a file of the file list by name, as a click would; false when it is not listed.
  bool chooseFile(const QString& name);

  // Where a newly loaded window starts: the folder of the last file chosen in this session, else home.
  static QString startFolder();

  // The socket side (tests shorten its time limits and watch its state).
  Uploader* uploader() const { return uploader_; }

 signals:
  // The server's whole answer was handled (the window is being unloaded), or the upload failed.
  void uploadFinished(bool answered);

 protected:
  static QLabel* makeLabel(QWidget* parent, const char* name, const QString& text);
  // The window's title line: a larger, bold font.
  static void makeHeading(QLabel* label);
  // Title and text on top, the window's own middle part, then the send progress and the buttons.
  void layOut(QLabel* title, QLabel* text, QLayout* middle);

  // Reads the stored accountant into docContador; the load of both windows.
  void loadAccountant();
  // The file list's chosen name and its full path.
  QString chosenName() const;
  QString chosenPath() const;

  // Step one of every press of "&Enviar": the certificate, then nothing more while a connection
  // is up. True when the press may go on.
  bool certificateAccepted();
  // "No File Chosen" when no declaration has been chosen.
  bool fileChosen();
  // The upload address: "http://host:port" + target, host and port read afresh from the settings.
  static QString uploadUrl(const QString& target);
  // Splits the URL into txtUrl, reads the content, composes and sends the request. pauseBefore
  // (after the connection is up) and pauseAfter wrap the hand-over to the socket. False when nothing was sent ("Invalid
  // Host", "Invalid Port", a connection that failed: the failure has been reported through uploadFailed).
  bool sendUpload(const QString& url, const QString& contentPath, const QString& fileName, int pauseBeforeMs = 0,
                  int pauseAfterMs = 0);
  // Waits without taking input, while the window keeps painting and the socket keeps working.
  // False when the window went away meanwhile.
  bool pause(int ms);

  // What each window makes of the whole answer (read until the server closed) and of a failure.
  virtual void answerReceived(const QByteArray& answer) = 0;
  virtual void uploadFailed(int number, const QString& description) = 0;

  // Gives the main window back, refreshes its list of transmissions and unloads this window.
  void refreshMainAndUnload();
  void giveMainWindowBack();

  void closeEvent(QCloseEvent* e) override;

  QComboBox* Drive1_;
  QListWidget* dir_;
  QListWidget* file_;
  QProgressBar* ProgressBar1_;
  QLabel* lblSendSpeed_;
  QPushButton* cmdUpload_;
  QPushButton* Command2_;
  QLineEdit* txtUploadFile_;
  QLineEdit* txtName_;
  QLineEdit* txtMIMEType_;
  QLineEdit* txtUrl_;
  QPlainTextEdit* txtRequest_;
  QPlainTextEdit* txtResponse_;

 private:
  void fillDrives();
  void fillDirs();
  void fillFiles();

  Uploader* uploader_;
  CertificadoDigital cert_{CopiaCertificado::Transmissao};
  QString dirPath_;
  bool closing_ = false;
};
