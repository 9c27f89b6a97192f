#include "gui/registry/frmatualizarcontribuinte.h"

#include <QCheckBox>
#include <QLineEdit>
#include <optional>

#include "gui/registry/frmcadastrocontribuinte.h"
#include "gui/widgets/interaction.h"
#include "registry/localdb.h"
#include "registry/taxpayerstore.h"

FrmAtualizarContribuinte::FrmAtualizarContribuinte()
    : TaxpayerListForm(QStringLiteral("frmtbl_atualizarContribuinte"),
                       QStringLiteral("Atualização de Contribuinte - Prefeitura Municipal de Tavarel"),
                       QStringLiteral("Selecione o Contribuinte que deseja atualizar:")) {}

void FrmAtualizarContribuinte::comEscolha(const Escolha& e) {
  std::optional<ContribuinteDados> stored;
  try {
    LocalDatabase::Connection db;
    stored = TaxpayerStore::find(db, e.ie);
  } catch (const DbError&) { stored.reset(); }
  // Gone from the table since the list was filled, or unreadable: nothing to edit.
  if (!stored) {
    MsgBox(this, QStringLiteral("É necessário cadastrar empresa"), QMessageBox::Information, kMsgTitle);
    return;
  }
  FrmCadastroContribuinte* f = Forms::get<FrmCadastroContribuinte>();
  f->txtIE()->setText(e.ie);
  f->txtRazaoSocial()->setText(e.razaoSocial);
  f->txtCNPJ()->setText(e.cnpj);
  f->txtCNAE()->setText(e.cnae);
  f->chave()->setText(e.chave);
  f->txtInscMunicipal()->setText(stored->ccm);
  f->flagOptanteSimples()->setChecked(stored->optanteSimples);
  f->show();
  close();
}

void FrmAtualizarContribuinte::semEscolha() {
  MsgBox(this, QStringLiteral("É necessário selecionar a empresa"), QMessageBox::NoIcon, QString());
}
