// Certificates in the browsers' NSS databases, read-only, one database at a time.
#include <cert.h>
#include <nss.h>
#include <pk11pub.h>
#include <prerror.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <algorithm>
#include <mutex>

#include "base/privatefile.h"
#include "registry/certsources.h"

namespace CertificateSources {

namespace {

// NSS keeps global state: one database is open at a time, each read start to end.
std::mutex g_nssMutex;

QString nssError() {
  const PRErrorCode e = PR_GetError();
  const char* name = PR_ErrorToName(e);
  const char* text = PR_ErrorToString(e, PR_LANGUAGE_I_DEFAULT);
  return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(text ? text : ""), QString::fromLatin1(name ? name : "?"));
}

// NSS reports a database that another program holds locked as a bad database; SQLite says which.
bool lockedByAnotherProgram(const QString& file) {
  bool locked = false;
  const QString name = QStringLiteral("nss-probe-") + QUuid::createUuid().toString(QUuid::Id128);
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=0"));
    if (db.open()) {
      QSqlQuery q(db);
      if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        const int code = q.lastError().nativeErrorCode().toInt();
        locked = code == 5 || code == 6;  // SQLITE_BUSY, SQLITE_LOCKED
      }
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return locked;
}

void readNssDatabase(const QString& dir, bool named, CertificateListing* out) {
  const QString file = QDir(dir).filePath(QStringLiteral("cert9.db"));
  if (!QFileInfo::exists(file)) {
    // A profile that never stored a certificate has no database: nothing to say about it.
    if (named)
      out->skipped.append(
          {CertificateOrigin::Navegador, dir, QStringLiteral("não há banco de certificados (cert9.db)")});
    return;
  }
  // NSS would open whatever stands there: a FIFO blocks it for good, a device never ends.
  for (const QString& name : {QStringLiteral("cert9.db"), QStringLiteral("key4.db")}) {
    const QString path = QDir(dir).filePath(name);
    if ((name == QLatin1String("cert9.db") || QFileInfo::exists(path) || QFileInfo(path).isSymLink()) &&
        !PrivateFile::isRegular(path)) {
      out->skipped.append(
          {CertificateOrigin::Navegador, dir,
           QStringLiteral("%1 não é um arquivo comum (um dispositivo, um FIFO ou uma pasta)").arg(name)});
      return;
    }
  }
  std::lock_guard<std::mutex> lock(g_nssMutex);
  const QByteArray config = "sql:" + QFile::encodeName(dir);
  NSSInitContext* ctx = NSS_InitContext(config.constData(), "", "", "", nullptr,
                                        NSS_INIT_READONLY | NSS_INIT_NOMODDB | NSS_INIT_NOROOTINIT);
  if (!ctx) {
    const QString why = nssError();
    out->skipped.append({CertificateOrigin::Navegador, dir,
                         lockedByAnotherProgram(file)
                             ? QStringLiteral("o banco está bloqueado por outro programa (o navegador aberto?)")
                             : QStringLiteral("o banco não pôde ser aberto: ") + why});
    return;
  }
  if (CERTCertList* list = PK11_ListCerts(PK11CertListAll, nullptr)) {
    // The list's own macros cast C-style; the node begins with its link.
    for (PRCList* link = list->list.next; link != &list->list; link = link->next) {
      const CERTCertListNode* n = reinterpret_cast<const CERTCertListNode*>(link);
      const QByteArray der(reinterpret_cast<const char*>(n->cert->derCert.data),
                           static_cast<qsizetype>(n->cert->derCert.len));
      std::optional<CertificateInfo> info = ParseCertificate(der);
      if (!info || isChainCertificate(*info)) continue;
      info->origin = CertificateOrigin::Navegador;
      info->source = dir;
      out->certificates.append(*info);
    }
    CERT_DestroyCertList(list);
  } else {
    out->skipped.append({CertificateOrigin::Navegador, dir, QStringLiteral("a leitura falhou: ") + nssError()});
  }
  NSS_ShutdownContext(ctx);
}

void sortByName(QList<CertificateInfo>* list) {
  std::stable_sort(list->begin(), list->end(), [](const CertificateInfo& a, const CertificateInfo& b) {
    return QString::localeAwareCompare(a.issuedTo, b.issuedTo) < 0;
  });
}

}  // namespace

CertificateListing listBrowsers() {
  CertificateListing out;
  const bool named = qEnvironmentVariableIsSet("ZIDE_NSS_DBS");
  for (const QString& dir : nssDatabases()) readNssDatabase(dir, named, &out);
  sortByName(&out.certificates);
  return out;
}

}  // namespace CertificateSources
