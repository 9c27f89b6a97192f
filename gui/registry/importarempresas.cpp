#include "gui/registry/importarempresas.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "gui/registry/certificadodigital.h"
#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/interaction.h"
#include "registry/certificates.h"
#include "registry/companyimport.h"
#include "registry/importaccess.h"
#include "registry/localdb.h"

namespace {

const QString kArquivoInvalido =
    QStringLiteral("Erro: Arquivo inválido, você deve selecionar um arquivo conforme o manual indicar");
}  // namespace

ImportarEmpresas::ImportarEmpresas() {
  setObjectName(QStringLiteral("ImportarEmpresas"));
  setWindowTitle(QStringLiteral("Cadastro de Empresas - Através do Arquivo NovaGIA - Importação"));
  auto* outer = new QVBoxLayout(this);
  auto* frame = new QGroupBox(QStringLiteral("Importar"), this);
  frame->setObjectName(QStringLiteral("Frame1"));
  outer->addWidget(frame);
  auto* lay = new QVBoxLayout(frame);

  auto* fileRow = new QHBoxLayout;
  Text1_ = new QLineEdit(QStringLiteral("Selecione o arquivo a importar"), frame);
  Text1_->setObjectName(QStringLiteral("Text1"));
  Command2_ = new QPushButton(QStringLiteral("Selecionar Arquivo"), frame);
  Command2_->setObjectName(QStringLiteral("Command2"));
  Command3_ = new QPushButton(QStringLiteral("Carregar Dados"), frame);
  Command3_->setObjectName(QStringLiteral("Command3"));
  Command3_->hide();
  fileRow->addWidget(Text1_, 1);
  fileRow->addWidget(Command2_);
  fileRow->addWidget(Command3_);
  lay->addLayout(fileRow);

  MSFlexGrid1_ = new QTableWidget(frame);
  MSFlexGrid1_->setObjectName(QStringLiteral("MSFlexGrid1"));
  MSFlexGrid1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  MSFlexGrid1_->verticalHeader()->hide();
  MSFlexGrid1_->hide();
  lay->addWidget(MSFlexGrid1_, 1);

  Label1_ = new QLabel(QStringLiteral("Atenção, a importação não será concluída, existe inconsistência nos cadastros."),
                       frame);
  Label1_->setObjectName(QStringLiteral("Label1"));
  Label1_->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0)"));
  Label1_->hide();
  Label2_ = new QLabel(QStringLiteral("Para prosseguir, corrija as informações e tente novamente."), frame);
  Label2_->setObjectName(QStringLiteral("Label2"));
  Label2_->hide();
  lay->addWidget(Label1_);
  lay->addWidget(Label2_);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  Command1_ = new QPushButton(QStringLiteral("Impo&rtar"), frame);
  Command1_->setObjectName(QStringLiteral("Command1"));
  Command1_->hide();
  bottom->addWidget(Command1_);
  lay->addLayout(bottom);

  connect(Command2_, &QPushButton::clicked, this, &ImportarEmpresas::Command2_Click);
  connect(Command3_, &QPushButton::clicked, this, &ImportarEmpresas::Command3_Click);
  connect(Command1_, &QPushButton::clicked, this, &ImportarEmpresas::Command1_Click);
  resize(660, 420);
}

void ImportarEmpresas::Command2_Click() {
  const QString file = Interaction::current().openFileName(this, QStringLiteral("Escolha o arquivo"), QString(),
                                                           QStringLiteral("Arquivos exportados do NovaGIA (*.mdb)"));
  if (file.isEmpty()) return;
  Text1_->setText(file);
  Command3_->show();
}

std::optional<QList<EmpresaNovaGIA>> ImportarEmpresas::lerArquivo() {
  try {
    return LerExportacaoNovaGIA(Text1_->text());
  } catch (const std::exception&) {
    MsgBox(this, kArquivoInvalido, QMessageBox::NoIcon, kMsgTitle);
    return std::nullopt;
  }
}

void ImportarEmpresas::Command3_Click() {
  const std::optional<QList<EmpresaNovaGIA>> lidas = lerArquivo();
  if (!lidas) return;
  const QList<EmpresaNovaGIA>& empresas = *lidas;
  if (empresas.isEmpty()) {
    MsgBox(this, QStringLiteral("Erro: Arquivo está vazio"), QMessageBox::NoIcon, QString());
    return;
  }

  QTableWidget* g = MSFlexGrid1_;
  g->show();
  g->clear();
  g->setColumnCount(4);
  g->setHorizontalHeaderLabels(
      {QStringLiteral("IE"), QStringLiteral("CNPJ"), QStringLiteral("CNAE"), QStringLiteral("Razão Social")});
  const int widths[] = {1500, 1800, 1200, 5000};
  for (int c = 0; c < 4; ++c) g->setColumnWidth(c, TwipsToPixels(widths[c]));
  g->setRowCount(static_cast<int>(empresas.size()));

  bool inconsistente = false;
  for (int i = 0; i < empresas.size(); ++i) {
    const EmpresaNovaGIA& e = empresas[i];
    const QString cells[] = {e.ie, e.cnpj, e.cnae, e.razaoSocial};
    const bool ruim = e.inconsistente();
    inconsistente = inconsistente || ruim;
    for (int c = 0; c < 4; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (c < 3) item->setTextAlignment(Qt::AlignCenter);
      if (ruim) item->setForeground(QColor(255, 0, 0));
      g->setItem(i, c, item);
    }
  }
  WidenToContents(g, 0, 2);
  Command1_->setVisible(!inconsistente);
  Label1_->setVisible(inconsistente);
  Label2_->setVisible(inconsistente);
}

void ImportarEmpresas::Command1_Click() {
  // The file is read again: Text1 may name another file than the one loaded.
  const std::optional<QList<EmpresaNovaGIA>> lidas = lerArquivo();
  if (!lidas) return;
  const QList<EmpresaNovaGIA>& empresas = *lidas;
  std::unique_ptr<LocalDatabase::Connection> db;
  try {
    db = std::make_unique<LocalDatabase::Connection>();
  } catch (const DbError& e) {
    ErrorReport::show(this, e);
    return;
  }

  CertificadoDigital certificado(CopiaCertificado::ImportacaoEmpresas);
  std::optional<CertificadoEscolhido> c;
  try {
    c = certificado.Escolher(this);
  } catch (...) {
    MsgBox(this, ComponentFailureText());
    return;
  }
  if (!c) return;
  if (c->temCdp) certificado.ObterUrlsCDP(this, c->der);

  const CompanyImport::Result rel = CompanyImport::Importar(empresas, *c, *db);
  db.reset();
  for (const CompanyImport::Linha& linha : rel.linhas) {
    if (linha.desfecho == CompanyImport::Desfecho::CertificadoExpirado) break;
    const QString texto = CompanyImport::Mensagem(linha);
    if (!texto.isEmpty()) MsgBox(this, texto, QMessageBox::Critical, kMsgTitle);
  }
  if (rel.interrompida()) {
    // The companies already stored stay; the window stays open for another certificate.
    MsgBox(this, CompanyImport::Mensagem(rel.linhas.last()));
    const QStringList falhas = rel.naoImportadas();
    if (!falhas.isEmpty())
      MsgBox(this, QStringLiteral("Empresas não importadas:\r\n") + falhas.join(QStringLiteral("\r\n")),
             QMessageBox::Information, kMsgTitle);
    return;
  }
  MsgBox(this, CompanyImport::Resumo(rel), QMessageBox::Information, kMsgTitle);
  close();
}
