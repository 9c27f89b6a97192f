#pragma once
#include <QString>
#include <optional>

// No answer of the server (SOAP or upload) is read past this size: the exchange fails instead.
inline constexpr qint64 kMaxAnswerBytes = 32 * 1024 * 1024;

// A URL taken apart the way the upload needs it.
struct UrlParts {
  QString Scheme;  // before "://"; "https" asks for TLS
  QString Host;    // empty: the URL is unusable
  int Port = 0;    // written in the URL; 0 when absent, not a number or out of range
  QString Path;    // from the first "/" after the host up to the first "?"; "/" when none
  QString Query;   // after that "?"
  // A port was written but is no TCP port (above 65535).
  bool PortOutOfRange = false;
};

UrlParts SplitUrl(const QString& url);

// The port number of a text made of digits with blanks around them; -1 when it is not one.
qint64 ParsePortText(const QString& text);

// The one rule for the server's address, shared by the SOAP exchange and the upload.
inline constexpr int kMaxPort = 65535;
// A port is 1 to 65535 written in digits; a setting of one character already reads as empty.
bool IsValidPort(qint64 port);
// A host is a name or address without blanks, control characters or URL delimiters.
bool IsValidHost(const QString& host);

// "http", or "https" when the settings ask for it (protocolo=https in [servidor]); nullopt for any
// other value, which is refused rather than silently sent in the clear.
std::optional<QString> ConfiguredScheme();

struct ServerAddress {
  QString scheme;  // "http" or "https"
  QString host;
  int port = 0;
};
// The server of the settings, read now; nullopt with *error "Invalid Host", "Invalid Port" or
// "Invalid Protocol" when the settings do not name one.
std::optional<ServerAddress> ConfiguredServer(QString* error);
