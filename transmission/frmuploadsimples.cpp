#include "transmission/frmuploadsimples.h"

FrmUploadSimples::FrmUploadSimples()
    : PlaceholderForm(
          QStringLiteral("frmUploadSimples"),
          QStringLiteral("Selecione o arquivo PDF - Declaração - SIMPLES NACIONAL - Prefeitura Municipal de Tavarel")) {}
