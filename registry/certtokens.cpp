// Certificates on tokens and smart cards, through the PKCS#11 modules p11-kit knows. Kept apart from
// the NSS reader: both ship their own pkcs11t.h, which cannot meet in one file.
#include <p11-kit/p11-kit.h>

#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "registry/certsources.h"

namespace CertificateSources {

namespace {

QString takeString(char* s) {
  if (!s) return {};
  QString out = QString::fromUtf8(s);
  free(s);
  return out;
}

// The fixed-width, space-padded text fields of the PKCS#11 structures.
QString paddedText(const unsigned char* text, size_t size) {
  return QString::fromUtf8(reinterpret_cast<const char*>(text), static_cast<qsizetype>(size)).trimmed();
}

QString ckrText(CK_RV rv) {
  return QStringLiteral("%1 (CKR 0x%2)")
      .arg(QString::fromUtf8(p11_kit_strerror(rv)))
      .arg(QString::number(static_cast<qulonglong>(rv), 16).toUpper());
}

struct Module {
  CK_FUNCTION_LIST* functions;
  QString name;  // the path or the name p11-kit registers it under
};

// A token pulled out while it is read: no fault, it is simply not there any more.
bool gone(CK_RV rv) { return rv == CKR_TOKEN_NOT_PRESENT || rv == CKR_DEVICE_REMOVED || rv == CKR_SLOT_ID_INVALID; }

// The certificate objects of one token, read in a public session (no login).
void readToken(const Module& m, CK_SLOT_ID slot, CertificateListing* out) {
  CK_TOKEN_INFO token{};
  CK_RV rv = m.functions->C_GetTokenInfo(slot, &token);
  const QString label =
      rv == CKR_OK ? paddedText(token.label, sizeof token.label) : QStringLiteral("slot %1").arg(slot);
  const QString where = QStringLiteral("%1 (%2)").arg(label, m.name);
  auto skip = [&](const QString& what, CK_RV code) {
    out->skipped.append({CertificateOrigin::Token, where, what + QStringLiteral(": ") + ckrText(code)});
  };
  if (gone(rv)) return;
  if (rv != CKR_OK) return skip(QStringLiteral("o token não respondeu"), rv);
  // A blank token (SoftHSM always offers one) holds nothing yet.
  if (!(token.flags & CKF_TOKEN_INITIALIZED)) return;
  CK_SESSION_HANDLE session = 0;
  rv = m.functions->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
  if (gone(rv)) return;
  if (rv != CKR_OK) return skip(QStringLiteral("não foi possível abrir uma sessão"), rv);
  CK_OBJECT_CLASS klass = CKO_CERTIFICATE;
  CK_CERTIFICATE_TYPE type = CKC_X_509;
  CK_ATTRIBUTE query[] = {{CKA_CLASS, &klass, sizeof klass}, {CKA_CERTIFICATE_TYPE, &type, sizeof type}};
  std::vector<CK_OBJECT_HANDLE> handles;
  rv = m.functions->C_FindObjectsInit(session, query, 2);
  if (rv == CKR_OK) {
    CK_OBJECT_HANDLE batch[32];
    CK_ULONG n = 0;
    while ((rv = m.functions->C_FindObjects(session, batch, 32, &n)) == CKR_OK && n > 0)
      handles.insert(handles.end(), batch, batch + n);
    m.functions->C_FindObjectsFinal(session);
  }
  if (rv != CKR_OK) {
    m.functions->C_CloseSession(session);
    if (gone(rv)) return;
    return skip(QStringLiteral("não foi possível procurar os certificados"), rv);
  }
  for (CK_OBJECT_HANDLE h : handles) {
    CK_ATTRIBUTE value{CKA_VALUE, nullptr, 0};
    if (m.functions->C_GetAttributeValue(session, h, &value, 1) != CKR_OK ||
        value.ulValueLen == CK_UNAVAILABLE_INFORMATION)
      continue;
    QByteArray der(static_cast<qsizetype>(value.ulValueLen), Qt::Uninitialized);
    value.pValue = der.data();
    rv = m.functions->C_GetAttributeValue(session, h, &value, 1);
    if (rv != CKR_OK) {
      skip(QStringLiteral("um certificado não pôde ser lido"), rv);
      continue;
    }
    der.truncate(static_cast<qsizetype>(value.ulValueLen));
    std::optional<CertificateInfo> info = ParseCertificate(der);
    if (!info) {
      out->skipped.append(
          {CertificateOrigin::Token, where, QStringLiteral("um objeto do token não é um certificado legível")});
      continue;
    }
    if (isChainCertificate(*info)) continue;
    info->origin = CertificateOrigin::Token;
    info->source = label;
    out->certificates.append(*info);
  }
  m.functions->C_CloseSession(session);
}

void readModule(const Module& m, CertificateListing* out) {
  CK_RV rv = p11_kit_module_initialize(m.functions);
  if (rv != CKR_OK) {
    out->skipped.append({CertificateOrigin::Token, m.name, QStringLiteral("o módulo não iniciou: ") + ckrText(rv)});
    return;
  }
  CK_ULONG count = 0;
  rv = m.functions->C_GetSlotList(CK_TRUE, nullptr, &count);
  std::vector<CK_SLOT_ID> slotIds(count);
  if (rv == CKR_OK && count > 0) rv = m.functions->C_GetSlotList(CK_TRUE, slotIds.data(), &count);
  if (rv != CKR_OK) {
    out->skipped.append(
        {CertificateOrigin::Token, m.name, QStringLiteral("a lista de leitores falhou: ") + ckrText(rv)});
  } else {
    slotIds.resize(count);
    for (CK_SLOT_ID slot : slotIds) readToken(m, slot, out);
  }
  p11_kit_module_finalize(m.functions);
}

void sortByName(QList<CertificateInfo>* list) {
  std::stable_sort(list->begin(), list->end(), [](const CertificateInfo& a, const CertificateInfo& b) {
    return QString::localeAwareCompare(a.issuedTo, b.issuedTo) < 0;
  });
}

}  // namespace

CertificateListing listTokens() {
  CertificateListing out;
  if (qEnvironmentVariableIsSet("ZIDE_PKCS11_MODULES")) {
    for (const QString& path : pkcs11Modules()) {
      CK_FUNCTION_LIST* f = p11_kit_module_load(QFile::encodeName(path).constData(), 0);
      if (!f) {
        const char* why = p11_kit_message();
        out.skipped.append({CertificateOrigin::Token, path,
                            QStringLiteral("o módulo não pôde ser carregado: ") + QString::fromUtf8(why ? why : "")});
        continue;
      }
      readModule({f, path}, &out);
      p11_kit_module_release(f);
    }
  } else if (CK_FUNCTION_LIST** modules = p11_kit_modules_load(nullptr, 0)) {
    for (CK_FUNCTION_LIST** m = modules; *m; ++m) {
      // The trust module shows the system's list of roots, not anyone's certificates.
      if (takeString(p11_kit_config_option(*m, "trust-policy")) == QLatin1String("yes")) continue;
      QString name = takeString(p11_kit_module_get_name(*m));
      if (name.isEmpty()) name = takeString(p11_kit_module_get_filename(*m));
      readModule({*m, name}, &out);
    }
    p11_kit_modules_release(modules);
  } else {
    const char* why = p11_kit_message();
    out.skipped.append({CertificateOrigin::Token, QStringLiteral("p11-kit"),
                        QStringLiteral("a lista de módulos não pôde ser lida: ") + QString::fromUtf8(why ? why : "")});
  }
  sortByName(&out.certificates);
  return out;
}

}  // namespace CertificateSources
