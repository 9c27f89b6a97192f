#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include "gui/registry/certificadodigital.h"
#include "gui/widgets/forms.h"
#include "transmission/delivery.h"

class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class Uploader;

// What the ZIDE and the Simples Nacional windows share: the drive, folder and file lists, the
// hidden technical boxes, the send progress, the accountant's certificate and the upload itself.
// The windows lay the controls out and decide what is sent where, and what an answer means.
//
// Controls made here (object names): txtCaminho, Drive1, dir, file, lblContribuinte, ProgressBar1,
// lblSendSpeed, cmdUpload, Command2, and the hidden txtUploadFile, txtName, txtMIMEType, txtUrl,
// txtRequest, txtResponse.
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
  // Work of the window still going on when the user cancels (a preparation) stops here.
  virtual void stopWork() {}

  // Shows a folder in the drive, folder and file lists (selects the drive that holds it).
  void setFolder(const QString& path);
  QString folder() const { return dirPath_; }
  // Selects a file of the file list by name, as a click would; false when it is not listed.
  bool chooseFile(const QString& name);

  // Where a newly loaded window starts: the folder of the last file chosen (kept across runs in
  // the application folder's zide-usuario.ini), else home.
  static QString startFolder();
  // The folder typed or pasted into the path box: shown when it exists (a file's path shows its
  // folder and chooses the file), else a message.
  void txtCaminho_Enter();
  // Whether a press of "&Enviar" is under way (the button stays disabled until it ends).
  bool isSending() const { return busy_; }

  // The socket side (tests shorten its time limits and watch its state).
  Uploader* uploader() const { return uploader_; }
  // The verdict of the last press that reached the server.
  const Verdict::Result& lastVerdict() const { return lastVerdict_; }

 signals:
  // The press ended: true when the server registered everything sent (the window is being
  // unloaded), false when the window stays (a refusal, something not confirmed, a failure).
  void uploadFinished(bool answered);

 protected:
  static QLabel* makeLabel(QWidget* parent, const char* name, const QString& text);
  // The window's title line: a larger, bold font.
  static void makeHeading(QLabel* label);
  // Title and text on top, the window's own middle part, then the send progress and the buttons.
  void layOut(QLabel* title, QLabel* text, QLayout* middle);
  // The path box, the drive list and the folder list, one above the other.
  QLayout* folderColumn();

  // Whether "&Enviar" may be pressed (a declaration ready); the button follows, except while a
  // press is under way.
  void setSendable(bool on);
  // A send needs the main window's accountant and the selected company's key: false, with a
  // message, when either is missing.
  bool accountantAndKeyKnown();
  // The selected taxpayer changed (or was forgotten) while this window exists.
  virtual void taxpayerChanged() = 0;
  void showCompany();

  // Reads the stored accountant into docContador; the load of both windows.
  void loadAccountant();
  // The file list's chosen name and its full path.
  QString chosenName() const;
  QString chosenPath() const;

  // Step one of every press of "&Enviar": the certificate, then nothing more while a connection
  // is up. True when the press may go on.
  bool certificateAccepted();
  // Months the list of transmissions already shows go again only when the user says so ("Não" is
  // the default).
  bool sendAgain(const QStringList& months);
  // "No File Chosen" when no declaration has been chosen.
  bool fileChosen();
  // Splits the URL into txtUrl, reads the content, composes and sends the request. pauseBefore
  // (after the connection is up) and pauseAfter wrap the hand-over to the socket. False when nothing was sent ("Invalid
  // Host", "Invalid Port", a connection that failed: the failure has been reported through uploadFailed).
  // A content that cannot be read or is empty is never sent: a message names fileLabel and why.
  bool sendUpload(const QString& url, const QString& contentPath, const QString& fileName, const QString& fileLabel,
                  int pauseBeforeMs = 0, int pauseAfterMs = 0);
  // Waits without taking input, while the window keeps painting and the socket keeps working.
  // False when the window went away meanwhile.
  bool pause(int ms);

  // What the press under way sends: the window fills tipo, arquivo and references before
  // sendUpload, which adds the rest. The verdict's message ends with verdictExtra_.
  Delivery::Attempt attempt_;
  QString verdictExtra_;
  // The Simples Nacional explains its own refusal markers, after a pause.
  virtual QStringList markerMessages(const QByteArray&) const { return {}; }
  virtual int afterAnswerPauseMs() const { return 0; }
  // A failure before the whole request was handed over (it has been written to the journal).
  virtual void uploadFailed(int number, const QString& description) = 0;
  // The press is over and the window stays: the button comes back.
  void endPress();

  void giveMainWindowBack();

  void showEvent(QShowEvent* e) override;

  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

  QLineEdit* txtCaminho_;
  QLabel* lblContribuinte_;
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
  void pressEnviar();
  void takeAnswer(const QByteArray& answer, int httpStatus);
  void takeFailure(int number, const QString& description);
  // The request went out whole: the list is refreshed, the verdict shown and written down; the
  // window closes only when every reference sent is in the list.
  void conclude(bool answered, int httpStatus, const QByteArray& answer, const QString& failure);
  void fileListClicked(QListWidgetItem* item);
  // The highlighted file becomes the chosen one, and its preparation starts.
  void chooseCurrentFile();
  void fillDrives();
  // The constructor's steps.
  void createControls();
  void connectControls();
  void connectUploader();
  void followCompany();
  void fillDirs();
  void fillFiles();

  Uploader* uploader_;
  CertificadoDigital cert_{CopiaCertificado::Transmissao};
  QString dirPath_;
  bool closing_ = false;
  bool sendable_ = false;
  bool busy_ = false;
  bool handedOver_ = false;  // the whole request reached the socket
  Verdict::Result lastVerdict_;
  int lastClickRow_ = -1;  // the file list's row clicked last, and when
  QElapsedTimer lastClick_;
  bool companyStale_ = false;       // the company changed while the window was hidden
  QString companyIe_, companyKey_;  // the company the window's contents belong to
};
