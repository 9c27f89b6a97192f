#include "transmission/refresh.h"

#include "net/soap.h"

namespace Refresh {

namespace {
void fail(Result* r, Status kind, const QString& text) {
  r->status = kind;
  r->notices.append({kind, text});
}

Result unavailable() {
  Result r;
  fail(&r, Status::Unavailable, kServerDown);
  return r;
}
}  // namespace

Result ReadList(const QString& listText) {
  Result r;
  if (Transmissions::IsInvalidKey(listText)) {
    fail(&r, Status::InvalidKey, QStringLiteral("Chave inválida"));
    return r;
  }
  // From here on the list is emptied whatever follows.
  r.rows = QList<Transmissions::Row>();
  if (Transmissions::IsAccessRefused(listText)) {
    fail(&r, Status::Refused, QStringLiteral("Acesso não autorizado"));
    return r;
  }
  const auto rows = Transmissions::ParseList(listText);
  if (!rows) {
    fail(&r, Status::Unavailable, kServerDown);
    return r;
  }
  r.status = Status::Ok;
  r.rows = *rows;
  return r;
}

Result Read(const QString& rawResponse, const QString& result, const std::optional<QString>& versionText) {
  Result r = ReadList(result);
  // A result that is no list stops the refresh before the key is looked at.
  if (r.status == Status::Unavailable) return r;
  if (Transmissions::IsAccessRefused(rawResponse)) {
    r.clearSelection = true;
    if (r.status == Status::Ok) r.status = Status::Refused;
    return r;
  }
  // Without "CHAVE_I" in the answer even a list read as an invalid key goes on to the date (an
  // invalid-key marker in lower case has none, so the server counts as unavailable too).
  const Transmissions::ServerFields f = Transmissions::FieldsOf(result);
  const auto date = Transmissions::ParseServerDate(f.date);
  if (!date) {
    // The list already read stays.
    fail(&r, Status::Unavailable, kServerDown);
    return r;
  }
  r.serverRead = true;
  r.serverDate = *date;
  r.anoTrabalho = f.year;
  r.newestVersion = f.version;
  r.current = Transmissions::IsCurrent(rawResponse, versionText);
  return r;
}

Result Fetch(const QString& ie, const QString& chave) {
  // The installed program knows its own version before it asks.
  const std::optional<QString> version = Transmissions::ReadVersionFile();
  QString raw, result;
  if (!SendSoapRequest(QStringLiteral("Transferencia.ver2"),
                       {{QStringLiteral("strNome"), ie},
                        {QStringLiteral("strDiretorioDestino"), QStringLiteral("vbs")},
                        {QStringLiteral("Chave"), chave}},
                       &raw))
    return unavailable();
  if (!GetResult(raw, QStringLiteral("return"), &result)) return unavailable();
  return Read(raw, result, version);
}

}  // namespace Refresh
