#include "transmission/frmupload.h"

FrmUpload::FrmUpload()
    : PlaceholderForm(QStringLiteral("frmUpload"),
                      QStringLiteral("Selecione o arquivo GDB para Entrega  - Prefeitura Municipal de Tavarel")) {}
