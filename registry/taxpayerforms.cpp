#include "registry/taxpayerforms.h"

FrmCriaContribuinte::FrmCriaContribuinte()
    : PlaceholderForm(QStringLiteral("frmtbl_CriaContribuinte"),
                      QStringLiteral("Cadastro de Contribuinte - Prefeitura Municipal de Tavarel")) {}
FrmCadastroContribuinte::FrmCadastroContribuinte()
    : PlaceholderForm(QStringLiteral("frmtbl_CadastroContribuinte"),
                      QStringLiteral("Cadastro de Contribuinte - Prefeitura Municipal de Tavarel")) {}
FrmSelecionaContribuinte::FrmSelecionaContribuinte()
    : PlaceholderForm(QStringLiteral("frmtbl_SelecionaContribuinte"),
                      QStringLiteral("Seleção de Contribuinte - Prefeitura Municipal de Tavarel")) {}
FrmAtualizarContribuinte::FrmAtualizarContribuinte()
    : PlaceholderForm(QStringLiteral("frmtbl_atualizarContribuinte"),
                      QStringLiteral("Atualização de Contribuinte - Prefeitura Municipal de Tavarel")) {}
FrmExclusaoContribuinte::FrmExclusaoContribuinte()
    : PlaceholderForm(QStringLiteral("frmtbl_exclusaoContribuinte"),
                      QStringLiteral("Exclusão de Contribuinte - Prefeitura Municipal de Tavarel")) {}
