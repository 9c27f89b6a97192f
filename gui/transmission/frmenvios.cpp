#include "gui/transmission/frmenvios.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/interaction.h"
#include "registry/deliveryreport.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "registry/taxpayerstore.h"

FrmEnvios::FrmEnvios() {
  setObjectName(QStringLiteral("frmEnvios"));
  setWindowTitle(QStringLiteral("Envios - declarações enviadas deste computador"));

  auto* lblEmpresa = new QLabel(QStringLiteral("&Empresa:"), this);
  cboEmpresa_ = new QComboBox(this);
  cboEmpresa_->setObjectName(QStringLiteral("cboEmpresa"));
  lblEmpresa->setBuddy(cboEmpresa_);
  GridEnvios_ = new QTableWidget(this);
  GridEnvios_->setObjectName(QStringLiteral("GridEnvios"));
  SetUpGrid(GridEnvios_, {{QStringLiteral("Data"), 2300},
                          {QStringLiteral("Tipo"), 1000},
                          {QStringLiteral("IE"), 1800},
                          {QStringLiteral("Empresa"), 2800},
                          {QStringLiteral("Arquivo"), 2400},
                          {QStringLiteral("Referências"), 2000},
                          {QStringLiteral("Veredito"), 1700},
                          {QStringLiteral("Protocolos"), 2200}});
  txtDetalhes_ = new QPlainTextEdit(this);
  txtDetalhes_->setObjectName(QStringLiteral("txtDetalhes"));
  txtDetalhes_->setReadOnly(true);
  txtDetalhes_->setPlaceholderText(QStringLiteral("Escolha um envio na lista para ver os detalhes."));
  cmdExportar_ = new QPushButton(QStringLiteral("E&xportar CSV..."), this);
  cmdExportar_->setObjectName(QStringLiteral("cmdExportar"));
  cmdFechar_ = new QPushButton(QStringLiteral("&Fechar"), this);
  cmdFechar_->setObjectName(QStringLiteral("cmdFechar"));

  auto* top = new QHBoxLayout;
  top->addWidget(lblEmpresa);
  top->addWidget(cboEmpresa_, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(cmdExportar_);
  bottom->addWidget(cmdFechar_);
  auto* lay = new QVBoxLayout(this);
  lay->addLayout(top);
  lay->addWidget(GridEnvios_, 3);
  lay->addWidget(txtDetalhes_, 2);
  lay->addLayout(bottom);
  resize(980, 560);

  connect(cboEmpresa_, &QComboBox::currentIndexChanged, this, [this] { fillGrid(); });
  connect(GridEnvios_, &QTableWidget::itemSelectionChanged, this, [this] { GridEnvios_Click(); });
  connect(cmdExportar_, &QPushButton::clicked, this, [this] { cmdExportar_Click(); });
  connect(cmdFechar_, &QPushButton::clicked, this, &QWidget::close);
  Carrega();
  // Opens on the company selected in the main window, when it has sent something.
  filtrar(Session::current().taxpayer().ie);
}

void FrmEnvios::Carrega() {
  const QString ie = cboEmpresa_->currentData().toString();
  try {
    LocalDatabase::Connection db;
    all_ = DeliveryStore::list(db);
  } catch (const DbError& e) {
    all_.clear();
    ErrorReport::show(this, e);
  }
  fillCompanies();
  if (!filtrar(ie)) fillGrid();
}

void FrmEnvios::fillCompanies() {
  const QSignalBlocker block(cboEmpresa_);
  cboEmpresa_->clear();
  cboEmpresa_->addItem(QStringLiteral("Todas as empresas"), QString());
  QStringList seen;
  for (const DeliveryStore::Delivery& d : all_) {
    if (seen.contains(d.ie)) continue;
    seen << d.ie;
  }
  seen.sort();
  for (const QString& ie : seen) {
    QString name;
    for (const DeliveryStore::Delivery& d : all_)
      if (d.ie == ie && !d.razaoSocial.isEmpty()) {
        name = d.razaoSocial;
        break;
      }
    cboEmpresa_->addItem(name.isEmpty() ? ie : QStringLiteral("%1 - %2").arg(ie, name), ie);
  }
}

bool FrmEnvios::filtrar(const QString& ie) {
  const int at = ie.isEmpty() ? 0 : cboEmpresa_->findData(ie);
  if (at < 0) return false;
  if (at == cboEmpresa_->currentIndex()) fillGrid();
  else cboEmpresa_->setCurrentIndex(at);
  return true;
}

void FrmEnvios::fillGrid() {
  const QString ie = cboEmpresa_->currentData().toString();
  shown_.clear();
  for (const DeliveryStore::Delivery& d : all_)
    if (ie.isEmpty() || d.ie == ie) shown_.append(d);
  GridEnvios_->setRowCount(1);
  for (const DeliveryStore::Delivery& d : shown_)
    AppendGridRow(GridEnvios_, {DeliveryReport::DateText(d), d.tipo, d.ie, d.razaoSocial, d.arquivo, d.referencias,
                                d.veredito, d.protocolos});
  txtDetalhes_->clear();
  cmdExportar_->setEnabled(!shown_.isEmpty());
}

void FrmEnvios::GridEnvios_Click() {
  const int row = GridEnvios_->currentRow();
  if (row < 1 || row > shown_.size()) {
    txtDetalhes_->clear();
    return;
  }
  const DeliveryStore::Delivery& d = shown_.at(row - 1);
  QString text = DeliveryReport::Text({d});
  if (d.httpStatus == 0 && d.resposta.isEmpty()) text += QStringLiteral("\nResposta do servidor: nenhuma\n");
  else text += QStringLiteral("\nResposta do servidor (início):\n") + DeliveryReport::AnswerText(d);
  txtDetalhes_->setPlainText(text);
}

bool FrmEnvios::cmdExportar_Click() {
  if (shown_.isEmpty()) return false;
  const QString suggested = QDir::home().filePath(QStringLiteral("envios.csv"));
  const QString path = Interaction::current().saveFileName(this, QStringLiteral("Exportar envios"), suggested,
                                                           QStringLiteral("Planilha CSV (*.csv)"));
  if (path.isEmpty()) return false;
  // UTF-8 with its mark, so a spreadsheet reads the accents right.
  QSaveFile out(path);
  const QByteArray bytes = "\xEF\xBB\xBF" + DeliveryReport::Csv(shown_).toUtf8();
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
    MsgBox(this,
           QStringLiteral("Não foi possível gravar o arquivo %1: %2")
               .arg(QDir::toNativeSeparators(path), out.errorString()),
           QMessageBox::Critical, kMsgTitle);
    return false;
  }
  MsgBox(this,
         QStringLiteral("%1 envio(s) exportado(s) para %2.").arg(shown_.size()).arg(QDir::toNativeSeparators(path)),
         QMessageBox::Information, kMsgTitle);
  return true;
}
