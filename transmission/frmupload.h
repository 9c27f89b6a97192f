#pragma once
#include <QString>
#include <QWidget>

#include "app/forms.h"
#include "transmission/intake.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

// ZIDE transmission window: the user picks the declaration (.GDB), the intake turns it into
// zide.db and the window lists the selected taxpayer's reference periods. Object names of the
// controls: Label1, Label2, Drive1, dir, file, Frame1, GridRefencias, Preparacao, Label4,
// ocorrencia, Progresso, ProgressBar1, lblSendSpeed, cmdUpload, Command2, and the hidden Command1,
// txtUploadFile, txtName, txtMIMEType, txtUrl, txtRequest, txtResponse.
class FrmUpload : public FormBase<QWidget> {
  Q_OBJECT
 public:
  FrmUpload();
  ~FrmUpload() override;

  // Form-level state, reset when the window loads.
  QString docContador;     // the accountant's CPF/CNPJ digits
  qint16 giaCerta = 0;     // references accepted by the current press of "&Enviar"
  bool msgTrabalho = false;
  qint32 totalEnvio = 0;
  bool certificadoOk = false;
  bool conectado = false;

  // Handlers, public so that code (and tests) can stand in for a click.
  void Drive1_Change();
  void dir_Change();
  void file_Click();
  void PreparaArquivo();
  void Command1_Click();
  void Command2_Click();

  // Shows a folder in the drive, folder and file lists (selects the drive that holds it).
  void setFolder(const QString& path);
  QString folder() const { return dirPath_; }
  // Selects a file of the file list by name, as a click would; false when it is not listed.
  bool chooseFile(const QString& name);

  // Whether an intake is running, and the last intake's counts (for the sending step and tests).
  bool isPreparing() const { return intake_->isRunning(); }
  const Intake::Outcome& lastIntake() const { return lastOutcome_; }
  // Declaration rows were lost in the last intake and the user did not accept sending without them.
  bool lostDataPending() const { return lostDataPending_; }
  // Time limit of each table's export (tests shorten it).
  void setExportTimeout(int ms) { exportTimeoutMs_ = ms; }

 signals:
  // PreparaArquivo ended: the references are listed, or a message said why not.
  void intakeFinished();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void Form_Load();
  void buildGrid();
  void fillDrives();
  void fillDirs();
  void fillFiles();
  void advanceProgress();
  void intakeDone(const Intake::Outcome& outcome);
  void clearReferences();
  void giveMainWindowBack();

  Intake* intake_;
  Intake::Outcome lastOutcome_;
  bool lostDataPending_ = false;
  int exportTimeoutMs_ = 0;
  QString dirPath_;

  QLabel* Label1_;
  QLabel* Label2_;
  QComboBox* Drive1_;
  QListWidget* dir_;
  QListWidget* file_;
  QGroupBox* Frame1_;
  QTableWidget* GridRefencias_;
  QGroupBox* Preparacao_;
  QLabel* Label4_;
  QLabel* ocorrencia_;
  QProgressBar* Progresso_;
  QProgressBar* ProgressBar1_;
  QLabel* lblSendSpeed_;
  QPushButton* cmdUpload_;
  QPushButton* Command2_;
  QPushButton* Command1_;
  QLineEdit* txtUploadFile_;
  QLineEdit* txtName_;
  QLineEdit* txtMIMEType_;
  QLineEdit* txtUrl_;
  QPlainTextEdit* txtRequest_;
  QPlainTextEdit* txtResponse_;
};
