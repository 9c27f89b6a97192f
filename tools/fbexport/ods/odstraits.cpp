#include "odstraits.h"

#include <memory>

namespace ods {

namespace {

unsigned alignmentOf(uint8_t dtype, unsigned blobAlign) {
  switch (dtype) {
    case kBlob:
    case kQuad: return blobAlign;
    case kVarying:
    case kShort: return 2;
    case kLong:
    case kReal:
    case kSqlDate:
    case kSqlTime:
    case kTimestamp:
    case kArray:
    case kDbkey: return 4;
    case kDouble:
    case kDFloat:
    case kInt64: return 8;
    default: return 1;
  }
}

FieldDesc f(uint8_t dtype, uint16_t length) {
  FieldDesc d;
  d.dtype = dtype;
  d.length = length;
  return d;
}

// Field lists of the system tables, as the engine's relation tables define them. Names are
// CHAR(n) in the metadata character set; edit strings VARCHAR(125) or (127); file names VARCHAR(255);
// text blobs and BLR are blob ids.
std::vector<FieldDesc> fieldsTable(unsigned name, unsigned edit, unsigned count) {
  const FieldDesc n = f(kText, static_cast<uint16_t>(name)), b = f(kBlob, 8), s = f(kShort, 2);
  std::vector<FieldDesc> v = {
      n, n, b, b, b, b, b, b, s, s, s, s, b, b, b, s, b, s, f(kVarying, static_cast<uint16_t>(edit)),
      s, s, s, s, s, s, s, s, s, n, n};
  v.resize(count);
  return v;
}

std::vector<FieldDesc> relationFieldsTable(unsigned name, unsigned edit, unsigned count) {
  const FieldDesc n = f(kText, static_cast<uint16_t>(name)), b = f(kBlob, 8), s = f(kShort, 2);
  std::vector<FieldDesc> v = {n, n, n, n, n, f(kVarying, static_cast<uint16_t>(edit)), s, b, s, s, s, b, b, s, n, n,
                              s, b, s, n, s};
  v.resize(count);
  return v;
}

std::vector<FieldDesc> relationsTable(unsigned name, unsigned count) {
  const FieldDesc n = f(kText, static_cast<uint16_t>(name)), b = f(kBlob, 8), s = f(kShort, 2);
  std::vector<FieldDesc> v = {b, b, b, s, s, s, s, s, n, n, f(kVarying, 257), b, b, n, n, s, s, f(kBoolean, 1)};
  v.resize(count);
  return v;
}

std::vector<FieldDesc> characterSetsTable(unsigned name, unsigned count) {
  const FieldDesc n = f(kText, static_cast<uint16_t>(name)), b = f(kBlob, 8), s = f(kShort, 2);
  std::vector<FieldDesc> v = {n, n, f(kLong, 4), n, s, s, b, n, s, n, n};
  v.resize(count);
  return v;
}

std::unique_ptr<OdsTraits> make(int major, int minor) {
  auto t = std::make_unique<OdsTraits>();
  t->major = major;
  t->minor = minor;
  t->minorOffset = major >= 12 ? 64 : 62;
  t->dialect3Flag = major >= 12 ? 0x10 : 0x100;
  t->longTransactions = major >= 12;
  t->pointerBitsPerSlot = major >= 12 ? 8 : 2;
  t->pointerSlotsRoundTo8 = major >= 12;
  t->longRuns = major >= 13;
  t->notPackedFlag = major >= 13 ? 0x800 : 0;
  t->formatCountPrefix = major >= 12;
  t->nameBytes = major >= 13 ? 252 : 31;
  t->blobAlign = major >= 11 ? 8 : 4;
  const unsigned nb = t->nameBytes;
  // RDB$EDIT_STRING grew from VARCHAR(125) to VARCHAR(127) in ODS 11.2, moving every later field.
  const unsigned edit = major > 11 || (major == 11 && minor >= 2) ? 129 : 127;
  // Field counts per version: ODS 11.1 added RDB$RELATION_TYPE, ODS 12 identity columns and
  // owners of fields and character sets, ODS 13 RDB$SQL_SECURITY.
  t->pages.fields = {f(kLong, 4), f(kShort, 2), f(kLong, 4), f(kShort, 2)};
  t->fields.fields = fieldsTable(nb, edit, major >= 12 ? 30 : 28);
  t->relationFields.fields = relationFieldsTable(nb, edit, major >= 12 ? 21 : 19);
  t->relations.fields = relationsTable(nb, major >= 13 ? 18 : (major == 12 || (major == 11 && minor >= 1)) ? 17 : 16);
  t->formats.fields = {f(kShort, 2), f(kShort, 2), f(kBlob, 8)};
  t->characterSets.fields = characterSetsTable(nb, major >= 12 ? 11 : 9);
  for (SystemLayout* l : {&t->pages, &t->fields, &t->relationFields, &t->relations, &t->formats, &t->characterSets})
    layOut(l->fields, static_cast<unsigned>(l->fields.size()), t->blobAlign);
  return t;
}

}  // namespace

void layOut(std::vector<FieldDesc>& fields, unsigned fieldCount, unsigned blobAlign) {
  unsigned offset = ((fieldCount + 32) & ~31u) / 8;
  for (FieldDesc& d : fields) {
    const unsigned a = alignmentOf(d.dtype, blobAlign);
    offset = (offset + a - 1) / a * a;
    d.offset = offset;
    offset += d.length;
  }
}

const OdsTraits* traitsFor(int major, int minor) {
  // One set per known version; minors only matter for ODS 11.
  static const std::unique_ptr<OdsTraits> v10 = make(10, 0), v11 = make(11, 0), v111 = make(11, 1), v112 = make(11, 2),
                                          v12 = make(12, 0), v13 = make(13, 0), v131 = make(13, 1);
  switch (major) {
    case 10: return v10.get();
    case 11: return minor >= 2 ? v112.get() : minor == 1 ? v111.get() : v11.get();
    case 12: return v12.get();
    case 13: return minor >= 1 ? v131.get() : v13.get();
    default: return nullptr;
  }
}

}  // namespace ods
