#pragma once
#include <QList>
#include <QString>

// One company of a NovaGIA export: the first four columns of tblContribuinte, by position.
struct EmpresaNovaGIA {
  QString ie;
  QString razaoSocial;  // the file's name followed by one blank, as it is shown and stored
  QString cnpj;
  QString cnae;
  // A CNPJ that fails its check digits, or a name that is blank once trimmed.
  bool inconsistente() const;
};

// Reads the export's companies in file order; throws AccessError when the file cannot be read as an
// export (not an Access file, no tblContribuinte, fewer than four columns).
QList<EmpresaNovaGIA> LerExportacaoNovaGIA(const QString& path);
