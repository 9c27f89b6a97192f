#include "gui/registry/taxpayerforms.h"

#include <algorithm>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/registry/certificadodigital.h"
#include "gui/registry/importarempresas.h"
#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/interaction.h"
#include "gui/widgets/maskedbox.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "validation/validators.h"

namespace {
// The "&OK" / "&Cancelar" row that every taxpayer window ends with.
QHBoxLayout* okCancelRow(QWidget* parent, QPushButton** ok, QPushButton** cancel) {
  *ok = new QPushButton(QStringLiteral("&OK"), parent);
  (*ok)->setObjectName(QStringLiteral("cmdOK"));
  *cancel = new QPushButton(QStringLiteral("&Cancelar"), parent);
  (*cancel)->setObjectName(QStringLiteral("cmdCancelar"));
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(*ok);
  row->addWidget(*cancel);
  return row;
}

const QString kHeaderRazao = QStringLiteral("RAZÃO SOCIAL");
constexpr int kTwipsPerPixel = 15;

QLineEdit* textBox(QWidget* parent, const char* name) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

void giveMainWindowBack() { Session::current().releaseMainWindow(); }
}  // namespace

// ---------------------------------------------------------------- taxpayer form

TaxpayerForm::TaxpayerForm(bool update, const QString& objectName, const QString& caption) : update_(update) {
  setObjectName(objectName);
  setWindowTitle(caption);

  auto* frame = new QGroupBox(QStringLiteral(" Contribuinte "), this);
  frame->setObjectName(QStringLiteral("Frame1"));
  auto* regime = new QLabel(QStringLiteral("Regime: Débito e Crédito"), frame);
  regime->setObjectName(QStringLiteral("lblRegime"));

  txtIE_ = NewMaskedBox(frame, QStringLiteral("txtIE"), Masks::kIE);
  txtRazaoSocial_ = textBox(frame, "txtRazaoSocial");
  txtCNPJ_ = NewMaskedBox(frame, QStringLiteral("txtCNPJ"), Masks::kCnpj);
  txtCNAE_ = NewMaskedBox(frame, QStringLiteral("txtCNAE"), Masks::kCnae);
  Chave_ = textBox(frame, "Chave");
  txtInscMunicipal_ = textBox(frame, "txtInscMunicipal");
  flag_optantesimples_ = new QCheckBox(QStringLiteral("Contribuinte Optante do Simples Nacional"), frame);
  flag_optantesimples_->setObjectName(QStringLiteral("flag_optantesimples"));
  erroMsg_ = new QLabel(frame);
  erroMsg_->setObjectName(QStringLiteral("erroMsg"));
  erroMsg_->setStyleSheet(QStringLiteral("QLabel { color: rgb(192, 0, 0); font-weight: bold; }"));

  auto* grid = new QGridLayout(frame);
  int row = 0;
  grid->addWidget(regime, row++, 0, 1, 2);
  auto put = [&](const QString& text, QWidget* w) {
    auto* l = new QLabel(text, frame);
    l->setBuddy(w);
    grid->addWidget(l, row, 0);
    grid->addWidget(w, row++, 1);
  };
  put(QStringLiteral("Inscrição Estadual"), txtIE_);
  put(QStringLiteral("Razão Social"), txtRazaoSocial_);
  put(QStringLiteral("CNPJ"), txtCNPJ_);
  put(QStringLiteral("CNAE"), txtCNAE_);
  put(QStringLiteral("Chave de Acesso"), Chave_);
  put(QStringLiteral("Insc. Municipal"), txtInscMunicipal_);
  grid->addWidget(flag_optantesimples_, row++, 1);
  grid->addWidget(erroMsg_, row++, 0, 1, 2);
  grid->setColumnStretch(1, 1);

  extra_ = new QWidget(this);
  extra_->hide();

  QHBoxLayout* buttons = okCancelRow(this, &cmdOK_, &cmdCancelar_);

  auto* lay = new QVBoxLayout(this);
  lay->addWidget(frame);
  lay->addWidget(extra_);
  lay->addLayout(buttons);
  resize(520, 0);

  leaveHooks_ = {OnLeave(txtIE_, [this] { txtIE_LostFocus(); }), OnLeave(txtCNPJ_, [this] { txtCNPJ_LostFocus(); })};
  connect(cmdOK_, &QPushButton::clicked, this, &TaxpayerForm::cmdOK_Click);
  connect(cmdCancelar_, &QPushButton::clicked, this, &TaxpayerForm::cmdCancelar_Click);
}

TaxpayerForm::~TaxpayerForm() { qDeleteAll(leaveHooks_); }

ContribuinteDados TaxpayerForm::dados() const {
  ContribuinteDados d;
  d.ie = MaskedText(txtIE_);
  d.razaoSocial = txtRazaoSocial_->text();
  d.cnpj = MaskedText(txtCNPJ_);
  d.cnae = MaskedText(txtCNAE_);
  d.chave = Chave_->text();
  d.ccm = txtInscMunicipal_->text();
  d.optanteSimples = flag_optantesimples_->isChecked();
  return d;
}

void TaxpayerForm::txtIE_LostFocus() {
  erroMsg_->clear();
  if (update_) {
    if (!IEValida(MaskedText(txtIE_), kUfServida)) erroMsg_->setText(QStringLiteral("Inscrição Estadual inválida."));
    return;
  }
  try {
    LocalDatabase::Connection db;
    const auto rows = db.query(ContribuinteCountSql(MaskedText(txtIE_)));
    if (!rows.isEmpty() && rows.first().value(QStringLiteral("total")).toInt() > 0)
      erroMsg_->setText(QStringLiteral("Contribuinte já cadastrado."));
  } catch (const DbError& e) { ErrorReport::show(this, e); }
}

void TaxpayerForm::txtCNPJ_LostFocus() {
  if (!CNPJValida(MaskedText(txtCNPJ_))) erroMsg_->setText(QStringLiteral("CNPJ Inválido"));
  else erroMsg_->clear();
}

void TaxpayerForm::cmdOK_Click() {
  const ContribuinteDados d = dados();
  const QString erro = ContribuinteCampoErro(d, update_);
  if (!erro.isEmpty()) {
    MsgBox(this, erro, QMessageBox::Critical, kMsgTitle);
    return;
  }
  if (!erroMsg_->text().isEmpty()) {
    MsgBox(this, QStringLiteral("Corrija os erros antes de prosseguir"));
    return;
  }
  try {
    LocalDatabase::Connection db;
    const auto rows = db.query(ContribuinteCountSql(d.ie));
    const bool existe = !rows.isEmpty() && rows.first().value(QStringLiteral("total")).toInt() > 0;
    if (!update_ && existe) {
      erroMsg_->setText(QStringLiteral("Contribuinte já cadastrado."));
      return;
    }
    if (update_ && !existe) {
      erroMsg_->setText(QStringLiteral("Contribuinte não cadastrado."));
      return;
    }
    erroMsg_->clear();
    db.exec(update_ ? ContribuinteUpdateSql(d) : ContribuinteInsertSql(d));
  } catch (const DbError& e) {
    ErrorReport::show(this, e);
    return;
  }
  if (update_)
    MsgBox(this, QStringLiteral("O dados cadastrais do contribuinte foram atualizados"), QMessageBox::NoIcon,
           kMsgTitle);
  else MsgBox(this, QStringLiteral("O contribuinte foi criado!"), QMessageBox::NoIcon, QString());
  close();
}

void TaxpayerForm::cmdCancelar_Click() { close(); }

void TaxpayerForm::closeEvent(QCloseEvent* e) {
  giveMainWindowBack();
  FormBase<QWidget>::closeEvent(e);
}

FrmCriaContribuinte::FrmCriaContribuinte()
    : TaxpayerForm(false, QStringLiteral("frmtbl_CriaContribuinte"),
                   QStringLiteral("Cadastro de Contribuinte - Prefeitura Municipal de Tavarel")) {
  QWidget* area = extraArea();
  auto* label = new QLabel(QStringLiteral("Utilize o certificado da Empresa ou Contador"), area);
  label->setObjectName(QStringLiteral("lblCertificado"));
  auto* command1 = new QPushButton(QStringLiteral("Gerar chave através do Cert. Digital"), area);
  command1->setObjectName(QStringLiteral("Command1"));
  auto* command2 = new QPushButton(QStringLiteral("Importação de Empresas"), area);
  command2->setObjectName(QStringLiteral("Command2"));
  auto* lay = new QHBoxLayout(area);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->addWidget(label);
  lay->addStretch();
  lay->addWidget(command1);
  lay->addWidget(command2);
  area->show();
  resize(600, 0);
  connect(command1, &QPushButton::clicked, this, &FrmCriaContribuinte::Command1_Click);
  connect(command2, &QPushButton::clicked, this, &FrmCriaContribuinte::Command2_Click);
}

// Chooses the certificate and fetches the key ("Transferencia.ecnpj"), filling Chave and
// flag_optantesimples.
void FrmCriaContribuinte::Command1_Click() {
  const ContribuinteDados d = dados();
  CertificadoDigital certificado(CopiaCertificado::CriacaoContribuinte);
  const std::optional<ChaveObtida> r =
      certificado.SelecionarCertificado(this, DadosEmpresa{d.ie, d.razaoSocial, d.cnpj, d.cnae});
  if (r) {
    chave()->setText(r->chave);
    flagOptanteSimples()->setChecked(r->simples);
  }
}

// Opens the company import window, not modal.
void FrmCriaContribuinte::Command2_Click() {
  ImportarEmpresas* w = Forms::get<ImportarEmpresas>();
  w->show();
  w->raise();
  w->activateWindow();
}

FrmCadastroContribuinte::FrmCadastroContribuinte()
    : TaxpayerForm(true, QStringLiteral("frmtbl_CadastroContribuinte"),
                   QStringLiteral("Atualização de Contribuinte - Prefeitura Municipal de Tavarel")) {}

// ---------------------------------------------------------------- list windows

TaxpayerListForm::TaxpayerListForm(const QString& objectName, const QString& caption, const QString& label) {
  setObjectName(objectName);
  setWindowTitle(caption);
  auto* lbl = new QLabel(label, this);
  lbl->setObjectName(QStringLiteral("Label1"));
  grid_ = new QTableWidget(this);
  grid_->setObjectName(QStringLiteral("GridSelContribuinte"));
  QHBoxLayout* buttons = okCancelRow(this, &cmdOK_, &cmdCancelar_);
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(lbl);
  lay->addWidget(grid_, 1);
  lay->addLayout(buttons);
  resize(720, 380);

  connect(cmdOK_, &QPushButton::clicked, this, &TaxpayerListForm::cmdOK_Click);
  connect(cmdCancelar_, &QPushButton::clicked, this, &TaxpayerListForm::cmdCancelar_Click);
  fill();
}

void TaxpayerListForm::fill() {
  static const char* const headers[] = {"IE", "RAZÃO SOCIAL", "CNPJ", "CNAE", ""};
  static const int twips[] = {1300, 4400, 1600, 1000};
  // Row 0 is the grid's fixed header row; taxpayers occupy rows 1 and up.
  grid_->setColumnCount(5);
  grid_->setRowCount(1);
  grid_->horizontalHeader()->hide();
  grid_->verticalHeader()->hide();
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->horizontalHeader()->setStretchLastSection(true);
  for (int c = 0; c < 5; ++c) {
    auto* item = new QTableWidgetItem(QString::fromUtf8(headers[c]));
    item->setTextAlignment(Qt::AlignCenter);
    item->setBackground(palette().button());
    item->setFlags(Qt::ItemIsEnabled);
    QFont f = item->font();
    f.setBold(true);
    item->setFont(f);
    grid_->setItem(0, c, item);
    if (c < 4) grid_->setColumnWidth(c, twips[c] / kTwipsPerPixel);
  }

  QList<QSqlRecord> rows;
  try {
    LocalDatabase::Connection db;
    rows = db.query(kContribuinteListSql);
  } catch (const DbError& e) {
    // The list stays empty; OK then says there is nothing to choose.
    ErrorReport::show(this, e);
    return;
  }
  for (const QSqlRecord& r : rows) {
    const int at = grid_->rowCount();
    grid_->insertRow(at);
    auto cell = [&](int col, const char* field, Qt::Alignment align) {
      auto* item = new QTableWidgetItem(r.value(QString::fromLatin1(field)).toString());
      item->setTextAlignment(align);
      grid_->setItem(at, col, item);
    };
    cell(0, "IE", Qt::AlignLeft | Qt::AlignVCenter);
    cell(1, "RazaoSocial", Qt::AlignLeft | Qt::AlignVCenter);
    cell(2, "CNPJ", Qt::AlignLeft | Qt::AlignVCenter);
    cell(3, "CNAE", Qt::AlignLeft | Qt::AlignVCenter);
    if (!r.value(QStringLiteral("Chave")).toString().isEmpty()) cell(4, "Chave", Qt::AlignHCenter | Qt::AlignTop);
  }
  WidenToContents(grid_, 0, 3);
  // Like a flex grid, the current row starts on the first row below the header.
  grid_->setCurrentCell(grid_->rowCount() > 1 ? 1 : 0, 0);
}

bool TaxpayerListForm::escolha(Escolha* out) const {
  const int row = grid_->currentRow();
  if (row < 0) return false;
  auto text = [&](int col) {
    const QTableWidgetItem* item = grid_->item(row, col);
    return item ? item->text() : QString();
  };
  const QString razao = text(1);
  if (razao.isEmpty() || razao == kHeaderRazao) return false;
  *out = {text(0), razao, text(2), text(3), text(4)};
  return true;
}

void TaxpayerListForm::cmdOK_Click() {
  Escolha e;
  if (escolha(&e)) comEscolha(e);
  else semEscolha();
}

void TaxpayerListForm::cmdCancelar_Click() { close(); }

void TaxpayerListForm::closeEvent(QCloseEvent* e) {
  giveMainWindowBack();
  FormBase<QWidget>::closeEvent(e);
}

FrmSelecionaContribuinte::FrmSelecionaContribuinte()
    : TaxpayerListForm(QStringLiteral("frmtbl_SelecionaContribuinte"),
                       QStringLiteral("Seleção de Contribuinte - Prefeitura Municipal de Tavarel"),
                       QStringLiteral("Selecione o Contribuinte que deseja abrir:")) {}

void FrmSelecionaContribuinte::comEscolha(const Escolha& e) {
  Session::current().selectTaxpayer({e.ie, e.razaoSocial, e.chave});
  close();
  Session::current().requestRefresh();
}

void FrmSelecionaContribuinte::semEscolha() {
  MsgBox(this, QStringLiteral("É necessário cadastrar empresa"), QMessageBox::NoIcon, QString());
  close();
}

FrmAtualizarContribuinte::FrmAtualizarContribuinte()
    : TaxpayerListForm(QStringLiteral("frmtbl_atualizarContribuinte"),
                       QStringLiteral("Atualização de Contribuinte - Prefeitura Municipal de Tavarel"),
                       QStringLiteral("Selecione o Contribuinte que deseja atualizar:")) {}

void FrmAtualizarContribuinte::comEscolha(const Escolha& e) {
  QList<QSqlRecord> rows;
  try {
    LocalDatabase::Connection db;
    rows = db.query(ContribuinteSelectSql(e.ie));
  } catch (const DbError&) { rows.clear(); }
  // Gone from the table since the list was filled, or unreadable: nothing to edit.
  if (rows.isEmpty()) {
    MsgBox(this, QStringLiteral("É necessário cadastrar empresa"), QMessageBox::Information, kMsgTitle);
    return;
  }
  FrmCadastroContribuinte* f = Forms::get<FrmCadastroContribuinte>();
  f->txtIE()->setText(e.ie);
  f->txtRazaoSocial()->setText(e.razaoSocial);
  f->txtCNPJ()->setText(e.cnpj);
  f->txtCNAE()->setText(e.cnae);
  f->chave()->setText(e.chave);
  const QSqlRecord& r = rows.first();
  f->txtInscMunicipal()->setText(r.value(QStringLiteral("CCM")).toString());
  const QVariant simples = r.value(QStringLiteral("OptanteSimples"));
  f->flagOptanteSimples()->setChecked(!simples.isNull() && simples.toInt() != 0);
  f->show();
  close();
}

void FrmAtualizarContribuinte::semEscolha() {
  MsgBox(this, QStringLiteral("É necessário selecionar a empresa"), QMessageBox::NoIcon, QString());
}

FrmExclusaoContribuinte::FrmExclusaoContribuinte()
    : TaxpayerListForm(QStringLiteral("frmtbl_exclusaoContribuinte"),
                       QStringLiteral("Exclusão de Contribuinte - Prefeitura Municipal de Tavarel"),
                       QStringLiteral("Selecione o Contribuinte que deseja excluir:")) {}

void FrmExclusaoContribuinte::comEscolha(const Escolha& e) {
  if (MsgBox(this, QStringLiteral("Deseja realmente excluir este contribuinte"), QMessageBox::NoIcon, kMsgTitle,
             QMessageBox::Yes | QMessageBox::No) == QMessageBox::No)
    return;
  try {
    LocalDatabase::Connection db;
    db.exec(ContribuinteDeleteSql(e.ie));
  } catch (const DbError&) {
    MsgBox(this, QStringLiteral("É necessário cadastrar empresa"), QMessageBox::Information, kMsgTitle);
    return;
  }
  MsgBox(this, QStringLiteral("Contribuinte Excluído"), QMessageBox::Information, kMsgTitle);
  close();
}

void FrmExclusaoContribuinte::semEscolha() {
  MsgBox(this, QStringLiteral("É necessário selecionar a empresa"), QMessageBox::NoIcon, QString());
}
