// zide-cli certificados [--formato texto|json]: every certificate the program sees, from every source.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <string>

#include "commands.h"
#include "registry/certsources.h"

namespace {

void put(std::FILE* to, const QString& text) { std::fputs(text.toUtf8().constData(), to); }

QString isoDate(const QDateTime& t) { return t.toUTC().toString(Qt::ISODate); }

QString sha1(const CertificateInfo& c) {
  return QString::fromLatin1(QCryptographicHash::hash(c.der, QCryptographicHash::Sha1).toHex());
}

int run(CommandArgs args) {
  QString format = QStringLiteral("texto");
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (isHelpRequest(a)) {
      std::fputs(kCertificados.usage, stdout);
      return kExitOk;
    }
    if (a != "--formato") return usageError(kCertificados, "argumento desconhecido: \"" + std::string(a) + "\".");
    if (i + 1 >= args.size()) return usageError(kCertificados, "falta o valor de --formato.");
    format = QString::fromUtf8(args[++i]);
    if (format != QLatin1String("texto") && format != QLatin1String("json"))
      return usageError(kCertificados, "formato desconhecido (use texto ou json).");
  }

  CliApp app;

  const CertificateListing all = CertificateSources::listAll();
  for (const SkippedSource& s : all.skipped)
    put(stderr, QStringLiteral("zide-cli: ignorado (%1) %2: %3\n").arg(OriginKey(s.origin), s.where, s.reason));

  const QDateTime now = QDateTime::currentDateTimeUtc();
  if (format == QLatin1String("json")) {
    QJsonArray list;
    for (const CertificateInfo& c : all.certificates)
      list.append(QJsonObject{{"origem", OriginKey(c.origin)},
                              {"fonte", c.source},
                              {"titular", c.owner},
                              {"documento", c.document},
                              {"emissor", c.issuedBy},
                              {"validoDe", isoDate(c.validFrom)},
                              {"validoAte", isoDate(c.validTo)},
                              {"vencido", c.validTo < now},
                              {"sha1", sha1(c)}});
    put(stdout, QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)));
    return kExitOk;
  }
  QString out;
  for (const CertificateInfo& c : all.certificates) {
    QStringList cells{OriginKey(c.origin),
                      c.owner,
                      c.document,
                      c.issuedBy,
                      isoDate(c.validFrom),
                      isoDate(c.validTo) + (c.validTo < now ? QStringLiteral(" (vencido)") : QString()),
                      sha1(c),
                      c.source};
    out += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  put(stdout, out);
  return kExitOk;
}

}  // namespace

const Command kCertificados = {
    "certificados", run, "lista os certificados da pasta, dos tokens e dos navegadores",
    "Uso: zide-cli certificados [--formato texto|json]\n"
    "  Lista cada certificado que o programa encontra: na pasta de certificados do programa\n"
    "  (ZIDE_CERTIFICADOS), nos tokens e cartões (módulos PKCS#11 do p11-kit, ou ZIDE_PKCS11_MODULES)\n"
    "  e nos bancos NSS dos navegadores (~/.pki/nssdb e perfis do Firefox, ou ZIDE_NSS_DBS).\n"
    "  Uma linha por certificado: origem, titular, CNPJ/CPF, emissor, início e fim da validade,\n"
    "  SHA-1 e a fonte. Arquivos e fontes que não puderam ser lidos vão para a saída de erros, com o\n"
    "  motivo. Saída: 0 sucesso, 2 uso incorreto.\n"};
