#pragma once
// What differs between the on-disk versions this reader knows (InterBase 6 / Firebird 1.x: ODS 10,
// Firebird 2.x: ODS 11, Firebird 3: ODS 12, Firebird 4/5: ODS 13). Everything version-specific is
// decided here, once, from the header page; the rest of the reader asks these traits.
#include <cstdint>
#include <vector>

namespace ods {

// Storage types of a record field, numbered as the engine numbers them in format descriptors
// (RDB$FORMATS.RDB$DESCRIPTOR) on every version.
enum Dtype : uint8_t {
  kText = 1,
  kCstring = 2,
  kVarying = 3,
  kShort = 8,
  kLong = 9,
  kQuad = 10,
  kReal = 11,
  kDouble = 12,
  kDFloat = 13,
  kSqlDate = 14,
  kSqlTime = 15,
  kTimestamp = 16,
  kBlob = 17,
  kArray = 18,
  kInt64 = 19,
  kDbkey = 20,
  kBoolean = 21,
};

// One field of a record format: where it sits in the uncompressed record.
struct FieldDesc {
  uint8_t dtype = 0;
  int8_t scale = 0;
  uint16_t length = 0;
  int16_t subType = 0;
  uint32_t offset = 0;
};

// System tables are described by the engine's code, not by RDB$FORMATS; their layout per version
// is kept here (only as far as the fields this reader uses need it).
struct SystemLayout {
  std::vector<FieldDesc> fields;  // in field-id order, offsets filled in
};

struct OdsTraits {
  int major = 0;
  int minor = 0;
  // Header: the minor version moved when ODS 12 put CPU/OS/compiler bytes before it.
  unsigned minorOffset = 0;
  // hdr_flags bit meaning "SQL dialect 3" (ODS 12 renumbered the header flags).
  uint16_t dialect3Flag = 0;
  // ODS 12+: transaction numbers have 16 more high bits in the header and in records that carry
  // rhd_long_tranum.
  bool longTransactions = false;
  // Pointer pages keep one bit pattern per data page after the page vector: 2 bits up to
  // ODS 11, a whole byte from ODS 12. It decides how many data pages one pointer page holds.
  unsigned pointerBitsPerSlot = 0;
  bool pointerSlotsRoundTo8 = false;
  // ODS 13 compression: control bytes -1 and -2 introduce runs with a 2- or 4-byte count, and
  // a record may be stored unpacked (rhd_not_packed).
  bool longRuns = false;
  uint16_t notPackedFlag = 0;
  // RDB$FORMATS descriptors: ODS 12 put a field count before them and default values after.
  bool formatCountPrefix = false;
  // Metadata names: CHAR(31) bytes up to ODS 12, CHAR(63) UTF8 (252 bytes) from ODS 13.
  unsigned nameBytes = 0;
  // Blob ids in system records are 8-aligned from ODS 11 on (seen in files Firebird 2.1, 2.5, 3
  // and 4 wrote); ODS 10 engines aligned them to 4.
  unsigned blobAlign = 4;

  SystemLayout pages, fields, relationFields, relations, formats, characterSets;
};

// Field ids of the system-table fields the reader uses.
namespace sysf {
enum Pages { kPageNumber = 0, kPageRelation = 1, kPageSequence = 2, kPageType = 3 };
enum Fields {
  kFieldName = 0,
  kComputedBlr = 4,
  kFieldLength = 8,
  kFieldScale = 9,
  kFieldType = 10,
  kFieldSubType = 11,
  kFieldNullFlag = 23,
  kCharLength = 24,
  kCollationId = 25,
  kCharsetId = 26,
  kPrecision = 27,
};
enum RelationFields {
  kRfFieldName = 0,
  kRfRelationName = 1,
  kRfFieldSource = 2,
  kRfPosition = 6,
  kRfFieldId = 9,
  kRfNullFlag = 16,
};
enum Relations {
  kRelViewBlr = 0,
  kRelId = 3,
  kRelSystemFlag = 4,
  kRelFormat = 6,
  kRelName = 8,
  kRelExternalFile = 10,
  kRelType = 16,
};
enum Formats { kFmtRelation = 0, kFmtFormat = 1, kFmtDescriptor = 2 };
enum CharacterSets { kCsName = 0, kCsId = 4 };
}  // namespace sysf

// Null when the version is not one this reader knows.
const OdsTraits* traitsFor(int major, int minor);

// Fills in offsets the way the engine lays out a record: a null bitmap rounded up as
// FLAG_BYTES(n) = ((n + 32) & ~31) / 8 bytes, then each field aligned to its type's alignment.
void layOut(std::vector<FieldDesc>& fields, unsigned fieldCount, unsigned blobAlign);

}  // namespace ods
