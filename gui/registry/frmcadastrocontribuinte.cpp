#include "gui/registry/frmcadastrocontribuinte.h"

FrmCadastroContribuinte::FrmCadastroContribuinte()
    : TaxpayerForm(true, QStringLiteral("frmtbl_CadastroContribuinte"),
                   QStringLiteral("Atualização de Contribuinte - Prefeitura Municipal de Tavarel")) {}
