#include "gui/transmission/frmuploadsimples.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/cp1252.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/interaction.h"
#include "registry/session.h"
#include "transmission/simplesanswer.h"

FrmUploadSimples::FrmUploadSimples() {
  setObjectName(QStringLiteral("frmUploadSimples"));
  setWindowTitle(
      QStringLiteral("Selecione o arquivo PDF - Declaração - SIMPLES NACIONAL - Prefeitura Municipal de Tavarel"));
  resize(TwipsToPixels(12330), TwipsToPixels(5385));

  Label1_ = makeLabel(this, "Label1", QStringLiteral("Transmissão de Declaração - Simples Nacional"));
  makeHeading(Label1_);
  Label2_ = makeLabel(this, "Label2",
                      QStringLiteral("Selecione o arquivo que deseja enviar.  Para contribuintes inscritos no Simples "
                                     "Nacional o arquivo a ser enviado é o DeclaraçãoDASN-_____.pdf"));
  Label2_->setWordWrap(true);

  auto* folders = new QVBoxLayout;
  folders->addWidget(Drive1_);
  folders->addWidget(dir_, 1);
  // The file list is the wide one here: PGDAS names are long.
  auto* middle = new QHBoxLayout;
  middle->addLayout(folders, 2);
  middle->addWidget(file_, 3);
  layOut(Label1_, Label2_, middle);

  loadAccountant();
  setFolder(startFolder());
}

void FrmUploadSimples::file_Click() {
  const QString name = chosenName();
  if (name.isEmpty()) return;
  txtUploadFile_->setText(chosenPath());
  if (name.right(3).toLower() == QLatin1String("pdf")) {
    cmdUpload_->setEnabled(true);
    giveMainWindowBack();
  } else {
    cmdUpload_->setEnabled(false);
    MsgBox(this, QStringLiteral("Arquivo Inválido"), QMessageBox::NoIcon, kAppTitle, QMessageBox::Ok);
  }
}

void FrmUploadSimples::cmdUpload_Click() {
  if (!certificateAccepted()) return;
  if (!fileChosen()) return;
  const Session& session = Session::current();
  const QString url =
      uploadUrl(QStringLiteral(" /client/xt_upload_simples.php?contador=") + session.accountantDocument() +
                QStringLiteral("&chave=") + session.taxpayer().chave + QStringLiteral("&gias="));
  const QString path = txtUploadFile_->text();
  sendUpload(url, path, QFileInfo(path).fileName(), pauses_.beforeSendMs, pauses_.afterSendMs);
}

void FrmUploadSimples::answerReceived(const QByteArray& answer) {
  giveMainWindowBack();
  if (!pause(pauses_.afterAnswerMs)) return;
  // The whole answer is read before looking: a marker may come in any part of it.
  for (const QString& message : SimplesRefusalMessages(fromCp1252(answer)))
    MsgBox(this, message, QMessageBox::NoIcon, kAppTitle, QMessageBox::Ok);
  refreshMainAndUnload();
}

void FrmUploadSimples::uploadFailed(int, const QString&) {
  // Nothing to say here: the window closes, and the list of transmissions shows nothing new.
  emit uploadFinished(false);
  close();
}
