#pragma once
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The structure of a Jet 4 file as named fields (header bytes, catalog rows and their owners,
// system-table definitions, index flags, page 1, long-value placement), read with the same code
// from our files and from the files Microsoft's engine wrote. Account SIDs are given relative to
// the owner of MSysDb ("O", "O^0102"), as every file masks them differently.
using JetStructure = QMap<QString, QString>;

// Empty when the bytes are no Jet 4 file this reader can follow.
JetStructure jetStructure(const QByteArray& file);

// The reference corpus (tests/data/access/referencia), read once.
const QList<JetStructure>& jetReferenceStructures();

// Every field of ours whose value no reference file has: "field: ours | references' values".
// A field no reference holds at all is checked against `expected` when listed there.
QStringList jetDifferences(const JetStructure& ours, const JetStructure& expected = {});
