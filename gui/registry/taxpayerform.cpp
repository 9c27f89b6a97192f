#include "gui/registry/taxpayerform.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/interaction.h"
#include "gui/widgets/maskedbox.h"
#include "gui/widgets/okcancelrow.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "registry/taxpayerstore.h"
#include "validation/validators.h"

namespace {
QLineEdit* textBox(QWidget* parent, const char* name) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

}  // namespace

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

  QHBoxLayout* buttons = OkCancelRow(this, &cmdOK_, &cmdCancelar_);

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
    if (TaxpayerStore::exists(db, MaskedText(txtIE_))) erroMsg_->setText(QStringLiteral("Contribuinte já cadastrado."));
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
    const bool existe = TaxpayerStore::exists(db, d.ie);
    if (!update_ && existe) {
      erroMsg_->setText(QStringLiteral("Contribuinte já cadastrado."));
      return;
    }
    if (update_ && !existe) {
      erroMsg_->setText(QStringLiteral("Contribuinte não cadastrado."));
      return;
    }
    erroMsg_->clear();
    if (update_) TaxpayerStore::update(db, d);
    else TaxpayerStore::insert(db, d);
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
  Session::current().releaseMainWindow();
  FormBase<QWidget>::closeEvent(e);
}
