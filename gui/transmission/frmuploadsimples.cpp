#include "gui/transmission/frmuploadsimples.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
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
#include "transmission/companyupload.h"
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

  // The file list is the wide one here: PGDAS names are long.
  auto* middle = new QHBoxLayout;
  middle->addLayout(folderColumn(), 2);
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
    setSendable(true);
    giveMainWindowBack();
  } else {
    setSendable(false);
    MsgBox(this,
           QStringLiteral("Arquivo Inválido\r\n\r\nEscolha o PDF da declaração, baixado do site PGDAS "
                          "(DeclaraçãoDASN-_____.pdf)."),
           QMessageBox::Warning, kAppTitle, QMessageBox::Ok);
  }
}

void FrmUploadSimples::cmdUpload_Click() {
  if (!accountantAndKeyKnown()) return;
  if (!certificateAccepted()) return;
  if (!fileChosen()) return;
  const Session& session = Session::current();
  const QString path = txtUploadFile_->text();
  // The month this document will be recorded under: already listed, it goes again only when asked.
  QFile file(path);
  const QString reference =
      file.open(QIODevice::ReadOnly) ? SimplesReference(file.readAll(), session.serverDate()) : QString();
  file.close();
  bool listed = false;
  for (const QString& t : session.transmittedReferences()) listed = listed || QString(t).remove(' ') == reference;
  if (!reference.isEmpty() && listed && !sendAgain({reference})) return;
  const QString url = CompanyUpload::SimplesUrl(session.accountantDocument(), session.taxpayer().chave);
  attempt_.tipo = QStringLiteral("SIMPLES");
  attempt_.arquivo = QFileInfo(path).fileName();
  // The PDF names no reference: any new row of the list confirms it.
  attempt_.references = {Verdict::Reference{}};
  verdictExtra_.clear();
  sendUpload(url, path, QFileInfo(path).fileName(), QLatin1Char('"') + QFileInfo(path).fileName() + QLatin1Char('"'),
             pauses_.beforeSendMs, pauses_.afterSendMs);
}

QStringList FrmUploadSimples::markerMessages(const QByteArray& answer) const {
  // The whole answer is read before looking: a marker may come in any part of it.
  return SimplesRefusalMessages(fromCp1252(answer));
}

void FrmUploadSimples::uploadFailed(int, const QString& description) {
  // The request never reached the server whole: say so, and keep the file chosen for a new try.
  MsgBox(this,
         QStringLiteral("A declaração não foi enviada: a conexão com o servidor da prefeitura falhou (%1).\r\n\r\n"
                        "O arquivo continua escolhido; confira a conexão e tente de novo.")
             .arg(description),
         QMessageBox::Warning, kMsgTitle);
  endPress();
  emit uploadFinished(false);
}

void FrmUploadSimples::taxpayerChanged() {
  // A PDF chosen for the previous company is not this one's declaration: choose again.
  txtUploadFile_->clear();
  const QSignalBlocker block(file_);
  file_->setCurrentRow(-1);
  file_->clearSelection();
  setSendable(false);
}
