#pragma once
#include <QString>
#include <QStringList>
#include <optional>

#include "registry/certificates.h"

// Every place where a Linux user keeps certificates: the program's folder, tokens and smart cards
// (PKCS#11 modules), and the browsers' NSS databases. Each source is read on its own: one that
// fails is reported in CertificateListing::skipped and the others are still listed. Certificates
// are public objects, so no PIN or database password is ever asked for.
namespace CertificateSources {

// The program's folder, then the tokens, then the browsers.
CertificateListing listAll();

// The certificates on every token present in the PKCS#11 modules of pkcs11Modules(). A token
// that is not inserted is no failure; a module that does not load or start is skipped.
CertificateListing listTokens();
// ZIDE_PKCS11_MODULES (module paths, separated by ':') when set, else empty: the modules that
// p11-kit registers on this system (trust-policy modules, the system's root list, left out).
QStringList pkcs11Modules();

// The certificates of every NSS database of nssDatabases(), opened read-only one at a time.
CertificateListing listBrowsers();
// ZIDE_NSS_DBS (folders, separated by ':') when set, else ~/.pki/nssdb and the folder of every
// Firefox profile (profiles.ini of ~/.mozilla/firefox, the snap and the flatpak ones).
QStringList nssDatabases();

// The profile folders that a Firefox profiles.ini lists; relative paths are taken from baseDir.
// Only [Profile...] sections count; a profile without a Path is ignored.
QStringList FirefoxProfileDirs(const QString& iniText, const QString& baseDir);

// Certificates a token or a browser holds besides the user's own: the chain of authorities and the
// intermediates a browser caches. A certification authority that names no holder document is one.
bool isChainCertificate(const CertificateInfo& info);

// The certificate of the holder of `document` (digits) among those listed: the one valid longest,
// since a renewed certificate makes the old one irrelevant. nullopt when none carries the document.
std::optional<CertificateInfo> certificateOf(const QList<CertificateInfo>& list, const QString& document);

}  // namespace CertificateSources
