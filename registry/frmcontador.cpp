#include "registry/frmcontador.h"

#include "app/principal.h"

FrmContador::FrmContador()
    : PlaceholderForm(QStringLiteral("frmContador"), QStringLiteral("Dados do Contador - Prefeitura Municipal de Tavarel")) {
  if (Principal* p = Forms::find<Principal>()) p->setEnabled(true);
}
