#include "registry/novagia.h"

#include "registry/importaccess.h"
#include "validation/validators.h"

bool EmpresaNovaGIA::inconsistente() const { return !CNPJValida(cnpj) || razaoSocial.trimmed().isEmpty(); }

QList<EmpresaNovaGIA> LerExportacaoNovaGIA(const QString& path) {
  // The export is password-protected for Access; libmdb reads it without the password.
  const AccessTable t = ReadAccessTable(path, QStringLiteral("tblContribuinte"));
  if (t.columns.size() < 4) throw AccessError(QStringLiteral("tblContribuinte sem as quatro primeiras colunas"));
  QList<EmpresaNovaGIA> out;
  out.reserve(t.rows.size());
  for (const QStringList& r : t.rows) out.append({r[0], r[1] + QLatin1Char(' '), r[2], r[3]});
  return out;
}
