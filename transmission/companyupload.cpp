#include "transmission/companyupload.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include "base/settings.h"
#include "net/urlhelper.h"

namespace CompanyUpload {

QString ServerUrl(const QString& target) {
  return ConfiguredScheme().value_or(QStringLiteral("invalido")) + QStringLiteral("://") +
         ReadSetting(QStringLiteral("servidor"), QStringLiteral("host")) + QLatin1Char(':') +
         ReadSetting(QStringLiteral("servidor"), QStringLiteral("port")) + target;
}

QString ZideUrl(const QString& accountant, const QString& chave, const QStringList& gias) {
  return ServerUrl(QStringLiteral(" /client_zide/xt_upload.php?contador=") + accountant + QStringLiteral("&chave=") +
                   chave + QStringLiteral("&gias=") + gias.join(QLatin1Char(',')));
}

QString SimplesUrl(const QString& accountant, const QString& chave) {
  return ServerUrl(QStringLiteral(" /client/xt_upload_simples.php?contador=") + accountant + QStringLiteral("&chave=") +
                   chave + QStringLiteral("&gias="));
}

Copy WriteCopy(const Intake::Settings& work, const QString& ie) {
  Copy c;
  if (QFileInfo(work.accessDb).size() <= 0) {
    c.path = work.accessDb;
    return c;
  }
  c.path = QFileInfo(work.accessDb).dir().filePath(QStringLiteral("zide_envio.mdb"));
  c.result = WriteCompanyCopy(work.workDb, c.path, ie, work.tables);
  return c;
}

QString CopySummary(const CompanyCopyResult& report) {
  QStringList parts;
  for (const CompanyCopyTable& t : report.tables)
    parts << QStringLiteral("%1: %2 mantidas, %3 fora").arg(t.table).arg(t.kept).arg(t.leftOut);
  return parts.join(QStringLiteral("; "));
}

Opened Open(const QString& url, const QString& contentPath, const QString& fileName, Delivery::Attempt* a) {
  Opened o;
  const UrlParts parts = SplitUrl(url);
  // The same address rule as the SOAP exchange: nothing leaves the machine for a bad one.
  o.target = ResolveUploadTarget(parts, &o.error);
  if (!o.target) {
    o.status = OpenStatus::BadAddress;
    return o;
  }
  // The file is read while it goes out, so a large one never sits whole in memory.
  o.request = OpenUploadRequest(contentPath, parts, QStringLiteral("objArquivo"), fileName,
                                QStringLiteral("application/octet-stream"), &o.error);
  if (!o.request || o.request->fileSize == 0) {
    // An unreadable or empty declaration would reach the server as an empty part.
    o.status = o.error.isEmpty() ? OpenStatus::Empty : OpenStatus::Unreadable;
    o.request.reset();
    return o;
  }
  if (!Delivery::Fingerprint(o.request->file.get(), o.request->fileSize, a)) {
    o.status = OpenStatus::FingerprintFailed;
    o.error = o.request->file->errorString();
    o.request.reset();
  }
  return o;
}

QString FailureAfterHandOver(int errorNumber) {
  return errorNumber == 10060 ? QStringLiteral("o servidor não respondeu")
                              : QStringLiteral("a conexão terminou sem resposta do servidor");
}

Exchange SendAndWait(const UploadTarget& target, UploadRequest request) {
  Exchange x;
  Uploader up;
  QEventLoop loop;
  bool over = false;
  QObject::connect(&up, &Uploader::sendComplete, &loop, [&] { x.handedOver = true; });
  QObject::connect(&up, &Uploader::answerComplete, &loop, [&](const QByteArray& answer, int status) {
    x.answered = true;
    x.answer = answer;
    x.httpStatus = status;
    if (status == 0) x.failure = QStringLiteral("o servidor respondeu algo que não é uma resposta válida");
    over = true;
    loop.quit();
  });
  QObject::connect(&up, &Uploader::errorOccurred, &loop, [&](int number, const QString& description) {
    x.errorNumber = number;
    x.failure = x.handedOver ? FailureAfterHandOver(number) : description;
    over = true;
    loop.quit();
  });
  if (!up.send(target, std::move(request)) && !over) {
    x.failure = up.errorString().isEmpty() ? QStringLiteral("a conexão falhou") : up.errorString();
    return x;
  }
  if (!over) loop.exec();
  return x;
}

QStringList Choice::gias() const {
  QStringList out;
  for (const ReferenceRow& r : accepted) out << r.key;
  return out;
}

Choice ChooseReferences(const QList<ReferenceRow>& listed, const QStringList& wanted, bool resend,
                        const QString& anoTrabalho, const QStringList& transmitted) {
  Choice c;
  QList<ReferenceRow> rows;
  for (const ReferenceRow& r : listed)
    if (wanted.isEmpty() || wanted.contains(ReferenceMonth(r.text))) rows << r;
  for (const QString& m : wanted) {
    const bool held =
        std::any_of(rows.cbegin(), rows.cend(), [&](const ReferenceRow& r) { return ReferenceMonth(r.text) == m; });
    if (!held) c.missing << m;
  }
  // The year message is the window's; here the rows left out say it.
  bool shown = true;
  const ReferenceWalk walk = WalkReferences(rows, true, anoTrabalho, &shown);
  c.wrongYear = walk.refused;
  if (!resend) c.alreadySent = AlreadyTransmitted(walk.accepted, transmitted);
  for (const ReferenceRow& r : walk.accepted)
    if (!std::any_of(c.alreadySent.cbegin(), c.alreadySent.cend(),
                     [&](const ReferenceRow& s) { return s.key == r.key; }))
      c.accepted << r;
  return c;
}

}  // namespace CompanyUpload
