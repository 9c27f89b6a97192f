#include "gui/registry/frmcontador.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/main/principal.h"
#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/interaction.h"
#include "gui/widgets/maskedbox.h"
#include "registry/accountantstore.h"
#include "registry/session.h"

namespace {
QLineEdit* textBox(QWidget* parent, const char* name) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}
}  // namespace

FrmContador::FrmContador() {
  setObjectName(QStringLiteral("frmContador"));
  setWindowTitle(QStringLiteral("Dados do Contador - Prefeitura Municipal de Tavarel"));

  auto* frame = new QGroupBox(QStringLiteral("Dados do Contador"), this);
  frame->setObjectName(QStringLiteral("Frame1"));
  QWidget* tipo = buildPersonType(frame);
  buildFields(frame);
  layOutFrame(frame, tipo);

  auto* lay = new QVBoxLayout(this);
  lay->addWidget(frame);
  lay->addLayout(buildButtons());
  resize(620, 420);
  connectControls();

  load();
  // Typing goes to the first field that can be filled in.
  (txtCNPJCPF_->isEnabled() ? txtCNPJCPF_ : txtCRC_)->setFocus();
}

QWidget* FrmContador::buildPersonType(QWidget* parent) {
  auto* tipo = new QWidget(parent);
  opt_fisica_ = new QRadioButton(QStringLiteral("Física"), tipo);
  opt_fisica_->setObjectName(QStringLiteral("opt_fisica"));
  opt_juridica_ = new QRadioButton(QStringLiteral("Jurídica"), tipo);
  opt_juridica_->setObjectName(QStringLiteral("opt_juridica"));
  opt_juridica_->setChecked(true);
  auto* tipoLay = new QHBoxLayout(tipo);
  tipoLay->setContentsMargins(0, 0, 0, 0);
  tipoLay->addWidget(opt_fisica_);
  tipoLay->addWidget(opt_juridica_);
  tipoLay->addStretch();
  return tipo;
}

void FrmContador::buildFields(QWidget* parent) {
  txtCNPJCPF_ = NewMaskedBox(parent, QStringLiteral("txtCNPJCPF"), Masks::kCnpj);
  txtCRC_ = textBox(parent, "txtCRC");
  txtRazaoSocial_ = textBox(parent, "txtRazaoSocial");
  txtLogradouro_ = textBox(parent, "txtLogradouro");
  txtNumero_ = textBox(parent, "txtNumero");
  txtComplemento_ = textBox(parent, "txtComplemento");
  txtBairro_ = textBox(parent, "txtBairro");
  txtCidade_ = textBox(parent, "txtCidade");
  txtUF_ = textBox(parent, "txtUF");
  auto* telefone = new MaskedBox(parent, QStringLiteral("txtTelefone"), Masks::kTelefone);
  telefone->setLongerMask(Masks::kCelular);
  txtTelefone_ = telefone;
  txtCEP_ = NewMaskedBox(parent, QStringLiteral("txtCEP"), Masks::kCep);
  txtEmail_ = textBox(parent, "txtEmail");

  erroMsg_ = new QLabel(parent);
  erroMsg_->setObjectName(QStringLiteral("erroMsg"));
  erroMsg_->setStyleSheet(QStringLiteral("QLabel { color: rgb(192, 0, 0); font-weight: bold; }"));
  erroMsg_->setWordWrap(true);
}

void FrmContador::layOutFrame(QGroupBox* frame, QWidget* tipo) {
  auto* label11 = new QLabel(QStringLiteral("Atenção: Para a transmissão dos documentos será utilizado o certificado "
                                            "dos dados cadastrados do contador responsável."),
                             frame);
  label11->setObjectName(QStringLiteral("Label11"));
  label11->setWordWrap(true);

  auto* grid = new QGridLayout(frame);
  int row = 0;
  auto put = [&](const QString& caption, QWidget* w, int col, int span = 1) {
    auto* l = new QLabel(caption, frame);
    l->setBuddy(w);
    grid->addWidget(l, row, col);
    grid->addWidget(w, row, col + 1, 1, span);
  };
  put(QStringLiteral("Tipo de Pessoa"), tipo, 0, 3);
  ++row;
  put(QStringLiteral("CNPJ / CPF"), txtCNPJCPF_, 0);
  put(QStringLiteral("CRC"), txtCRC_, 2);
  ++row;
  put(QStringLiteral("Razão Social"), txtRazaoSocial_, 0, 3);
  ++row;
  put(QStringLiteral("Endereço"), txtLogradouro_, 0);
  put(QStringLiteral("Número"), txtNumero_, 2);
  ++row;
  put(QStringLiteral("Complemento"), txtComplemento_, 0);
  put(QStringLiteral("Bairro"), txtBairro_, 2);
  ++row;
  put(QStringLiteral("Cidade"), txtCidade_, 0);
  put(QStringLiteral("Estado"), txtUF_, 2);
  ++row;
  put(QStringLiteral("Telefone"), txtTelefone_, 0);
  put(QStringLiteral("CEP"), txtCEP_, 2);
  ++row;
  put(QStringLiteral("E-mail"), txtEmail_, 0, 3);
  ++row;
  grid->addWidget(erroMsg_, row++, 0, 1, 4);
  grid->addWidget(label11, row++, 0, 1, 4);
  grid->setColumnStretch(1, 3);
  grid->setColumnStretch(3, 1);
}

QHBoxLayout* FrmContador::buildButtons() {
  btnOK_ = new QPushButton(QStringLiteral("OK"), this);
  btnOK_->setObjectName(QStringLiteral("btnOK"));
  btnOK_->setDefault(true);
  Command1_ = new QPushButton(QStringLiteral("Cancelar"), this);
  Command1_->setObjectName(QStringLiteral("Command1"));
  Command2_ = new QPushButton(QStringLiteral("Remover"), this);
  Command2_->setObjectName(QStringLiteral("Command2"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Command2_);
  buttons->addStretch();
  buttons->addWidget(btnOK_);
  buttons->addWidget(Command1_);
  return buttons;
}

void FrmContador::connectControls() {
  connect(opt_fisica_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) SetMask(txtCNPJCPF_, Masks::kCpf);
  });
  connect(opt_juridica_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) SetMask(txtCNPJCPF_, Masks::kCnpj);
  });
  leaveHook_ = OnLeave(txtCNPJCPF_, [this] { txtCNPJCPF_LostFocus(); });
  connect(btnOK_, &QPushButton::clicked, this, &FrmContador::btnOK_Click);
  connect(Command1_, &QPushButton::clicked, this, &FrmContador::Command1_Click);
  connect(Command2_, &QPushButton::clicked, this, &FrmContador::Command2_Click);
  // The state is kept in capitals, however it is typed.
  connect(txtUF_, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (t == t.toUpper()) return;
    const int at = txtUF_->cursorPosition();
    txtUF_->setText(t.toUpper());
    txtUF_->setCursorPosition(at);
  });
}

FrmContador::~FrmContador() { delete leaveHook_; }

void FrmContador::load() {
  Session::current().releaseMainWindow();
  std::optional<ContadorDados> stored;
  try {
    LocalDatabase::Connection db;
    stored = AccountantStore::find(db);
  } catch (const DbError& e) {
    // The window stays empty and usable; the report says why nothing was read.
    ErrorReport::show(this, e);
    return;
  }
  if (!stored) return;
  const ContadorDados& d = *stored;
  // A stored length of exactly 14 ("###.###.###-##") marks a CPF.
  if (d.cpfCnpj.size() == 14) opt_fisica_->setChecked(true);
  else opt_juridica_->setChecked(true);
  txtCNPJCPF_->setText(d.cpfCnpj);
  // The document of a stored accountant cannot be changed, only removed.
  txtCNPJCPF_->setEnabled(false);
  opt_fisica_->setEnabled(false);
  opt_juridica_->setEnabled(false);
  txtCRC_->setText(d.crc);
  txtRazaoSocial_->setText(d.razaoNome);
  txtLogradouro_->setText(d.endereco);
  txtNumero_->setText(d.numero);
  txtComplemento_->setText(d.complemento);
  txtBairro_->setText(d.bairro);
  txtCidade_->setText(d.cidade);
  txtUF_->setText(d.estado);
  int digitos = 0;
  for (const QChar ch : d.telefone) digitos += ch.isDigit() ? 1 : 0;
  SetMask(txtTelefone_, digitos > 10 ? Masks::kCelular : Masks::kTelefone);
  txtTelefone_->setText(d.telefone);
  txtEmail_->setText(d.email);
  txtCEP_->setText(d.cep);
}

bool FrmContador::cpfMode() const { return txtCNPJCPF_->inputMask() == Masks::kCpf; }

ContadorDados FrmContador::dados() const {
  ContadorDados d;
  d.cpfCnpj = MaskedText(txtCNPJCPF_);
  d.crc = txtCRC_->text();
  d.razaoNome = txtRazaoSocial_->text();
  d.endereco = txtLogradouro_->text();
  d.numero = txtNumero_->text();
  d.complemento = txtComplemento_->text();
  d.bairro = txtBairro_->text();
  d.cidade = txtCidade_->text();
  d.estado = txtUF_->text();
  d.telefone = MaskedText(txtTelefone_);
  d.cep = MaskedText(txtCEP_);
  d.email = txtEmail_->text();
  return d;
}

void FrmContador::txtCNPJCPF_LostFocus() {
  erroMsg_->setText(ContadorDocumentoSaida(MaskedText(txtCNPJCPF_), cpfMode()));
}

void FrmContador::btnOK_Click() {
  ContadorDados d = dados();

  // The server hears first, whatever the window holds. Any SOAP reply will do, but an answer that
  // is no SOAP reply at all (an error page, garbage) means the server never took the accountant,
  // and a SOAP fault says why it refused.
  SoapReplyKind kind = SoapReplyKind::NotAReply;
  QString motivo;
  try {
    QString response;
    if (SendSoapRequest(QStringLiteral("Transferencia.contador"), ContadorSoapParams(d), &response))
      kind = ReadSoapReply(response, &motivo);
  } catch (const std::exception&) { kind = SoapReplyKind::NotAReply; }
  if (kind != SoapReplyKind::Reply) {
    MsgBox(this, FalhaConexaoTexto(2, motivo), QMessageBox::Critical, kMsgTitle);
    return;
  }

  try {
    QString erro = ContadorDocumentoOk(d.cpfCnpj, cpfMode());
    erroMsg_->setText(erro);
    if (!erro.isEmpty()) return;
    erro = ContadorCamposErro(d, [this] {
      return MsgBox(this, QStringLiteral("Deseja prosseguir sem o CRC?"), QMessageBox::NoIcon, kMsgTitle,
                    QMessageBox::Yes | QMessageBox::No) != QMessageBox::No;
    });
    if (!erro.isEmpty()) {
      erroMsg_->setText(erro);
      return;
    }

    LocalDatabase::Connection db;
    AccountantStore::replace(db, d);
  } catch (const std::exception&) {
    MsgBox(this, FalhaConexaoTexto(1), QMessageBox::Critical, kMsgTitle);
    return;
  }

  // The main window's first-start hint moves on to the next step.
  Session::current().releaseMainWindow();
  close();
  MsgBox(Forms::find<Principal>(), QStringLiteral("Contador cadastrado com sucesso"), QMessageBox::Information,
         kMsgTitle);
}

void FrmContador::Command1_Click() { close(); }

void FrmContador::Command2_Click() {
  // One mis-click must not wipe the accountant: ask, with "Não" as the default.
  if (MsgBox(this, QStringLiteral("Deseja realmente remover os dados do contador?"), QMessageBox::Question, kMsgTitle,
             QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
    return;
  try {
    LocalDatabase::Connection db;
    AccountantStore::remove(db);
  } catch (const DbError&) {
    MsgBox(this, QStringLiteral("Não foi possível excluir o contador. Tente novamente mais tarde."),
           QMessageBox::NoIcon, kMsgTitle);
    return;
  }
  // A fresh window: empty and editable again.
  const QPoint where = pos();
  close();
  FrmContador* fresh = Forms::get<FrmContador>();
  fresh->move(where);
  fresh->show();
}
