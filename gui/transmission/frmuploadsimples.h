#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include "gui/transmission/transmissionwindow.h"

class QLabel;

// Simples Nacional transmission window: the PDF the company downloaded from the PGDAS site goes to
// the server unchanged. Object names: Label1, Label2, Drive1, dir, file, ProgressBar1,
// lblSendSpeed, cmdUpload, Command2, and the hidden txtUploadFile, txtName, txtMIMEType, txtUrl,
// txtRequest, txtResponse.
class FrmUploadSimples : public TransmissionWindow {
  Q_OBJECT
 public:
  FrmUploadSimples();

  void file_Click() override;
  void cmdUpload_Click() override;

  // The pauses around the hand-over and after the answer (tests shorten them).
  struct Pauses {
    int beforeSendMs = 50;
    int afterSendMs = 100;
    int afterAnswerMs = 1500;
  };
  void setPauses(const Pauses& p) { pauses_ = p; }

 protected:
  QStringList markerMessages(const QByteArray& answer) const override;
  int afterAnswerPauseMs() const override { return pauses_.afterAnswerMs; }
  void uploadFailed(int number, const QString& description) override;
  void taxpayerChanged() override;

 private:
  QLabel* Label1_;
  QLabel* Label2_;
  Pauses pauses_;
};
