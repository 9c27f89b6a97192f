#pragma once
// Declarations in on-disk versions the engine here cannot make (ODS 10, 11, 13), rewritten from
// an ODS 12 file made by isql-fb after the published layouts, and damaged copies of a file.
#include <QByteArray>
#include <QString>

// Rewrites source (ODS 12) as major.minor: the header fields that moved, the system tables'
// records in that version's layout (field count, name width, blob alignment), format
// descriptions without the count before ODS 11.1, and for ODS 13 user records re-packed with
// the long runs of its compression. False with a reason when the file has a shape the rewrite
// does not handle.
bool convertOds(const QString& source, const QString& target, int major, int minor, QString* why);

// Breaks one thing in a file image: "truncate", "ppcycle", "pagetype", "slot", "fragcycle",
// "blobpage", "blobloop" (a page of blob page numbers repeating one page), "charlength" (negative
// character lengths), "version".
bool damageOds(QByteArray& file, const QString& kind, QString* why);
