#pragma once
#include <QString>

// A URL taken apart the way the upload needs it.
struct UrlParts {
  QString Scheme;  // before "://", unused further
  QString Host;    // empty: the URL is unusable
  int Port = 0;    // written in the URL; 0 when absent, not a number or out of range
  QString Path;    // from the first "/" after the host up to the first "?"; "/" when none
  QString Query;   // after that "?"
  // A port was written but lies above 32767, the largest the request machinery takes.
  bool PortOutOfRange = false;
};

UrlParts SplitUrl(const QString& url);

// The port number of a text made of digits with blanks around them; -1 when it is not one.
qint64 ParsePortText(const QString& text);
