#pragma once
#include <QString>
#include <QWidget>

#include "gui/transmission/transmissionwindow.h"
#include "transmission/companycopy.h"
#include "transmission/intake.h"
#include "transmission/referencewalk.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

// ZIDE transmission window: the user picks the declaration (.GDB), the intake turns it into
// zide.mdb (and zide.db), the window lists the selected taxpayer's reference periods, and "&Enviar" sends zide.mdb
// with the keys of the chosen periods of an accepted year. Object names of the
// controls: Label1, Label2, Drive1, dir, file, Frame1, GridRefencias, Preparacao, Label4,
// ocorrencia, Progresso, ProgressBar1, lblSendSpeed, cmdUpload, Command2, and the hidden Command1,
// txtUploadFile, txtName, txtMIMEType, txtUrl, txtRequest, txtResponse.
class FrmUpload : public TransmissionWindow {
  Q_OBJECT
 public:
  FrmUpload();
  ~FrmUpload() override;

  // Form-level state, reset when the window loads (with totalEnvio and the others of the base).
  qint16 giaCerta = 0;       // references accepted by the current press of "&Enviar"
  bool msgTrabalho = false;  // the working-year message was shown since the window loaded

  // Handlers, public so that code (and tests) can stand in for a click.
  void file_Click() override;
  void cmdUpload_Click() override;
  void PreparaArquivo();
  void Command1_Click();

  // Selects the references from row `from` to row `to` of GridRefencias (row 1 is the first
  // reference), as a drag or a shift-click would: the grid's current row ends at `to`.
  void selectReferences(int from, int to);

  // Whether an intake is running, and the last intake's counts (for the sending step and tests).
  bool isPreparing() const { return intake_->isRunning(); }
  void stopWork() override;
  const Intake::Result& lastIntake() const { return lastResult_; }
  // Declaration rows were lost in the last intake and the user did not accept sending without them.
  bool lostDataPending() const { return lostDataPending_; }
  // What the last press sent of the declaration: the company's rows kept and left out per table.
  const CompanyCopyResult& lastCompanyCopy() const { return lastCopy_; }
  // Time limit of each table's export (tests shorten it).
  void setExportTimeout(int ms) { exportTimeoutMs_ = ms; }

 signals:
  // PreparaArquivo ended: the references are listed, or a message said why not.
  void intakeFinished();

 protected:
  void uploadFailed(int number, const QString& description) override;
  void closeEvent(QCloseEvent* e) override;
  void taxpayerChanged() override;

 private:
  void Form_Load();
  void buildGrid();
  void fitReferences();
  void advanceProgress();
  void intakeDone(const Intake::Result& outcome);
  void clearReferences();
  // The rows of the selection, and whether it was made downwards.
  QList<ReferenceRow> selectedReferences(bool* downwards) const;

  Intake* intake_;
  Intake::Result lastResult_;
  CompanyCopyResult lastCopy_;
  bool lostDataPending_ = false;
  bool workReady_ = false;  // the working database holds the last chosen declaration
  int exportTimeoutMs_ = 0;

  QLabel* Label1_;
  QLabel* Label2_;
  QGroupBox* Frame1_;
  QTableWidget* GridRefencias_;
  QGroupBox* Preparacao_;
  QLabel* Label4_;
  QLabel* ocorrencia_;
  QProgressBar* Progresso_;
  QProgressBar* ProgressoTabela_;  // the table being loaded
  QPushButton* Command1_;
};
