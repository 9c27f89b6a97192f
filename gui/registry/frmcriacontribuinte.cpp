#include "gui/registry/frmcriacontribuinte.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <optional>

#include "gui/registry/certificadodigital.h"
#include "gui/registry/importarempresas.h"

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
