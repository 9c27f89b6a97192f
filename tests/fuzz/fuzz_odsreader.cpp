// A declaration file (any bytes) read by the export tool's own reader from memory: every table,
// every row, every blob. Damage must end in OdsError, never a crash, a hang or a read outside
// the buffer (ASan sees the buffer's exact size: the input is copied to its own allocation).
#include <cstring>
#include <memory>
#include <vector>

#include "fuzzing.h"
#include "odsreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  try {
    ods::Database db(std::make_unique<ods::MemorySource>(copy.get(), size), 16);
    const ods::Header& h = db.header();
    FUZZ_CHECK(h.pageSize >= 1024 && h.pageSize <= 32768);
    FUZZ_CHECK(static_cast<uint64_t>(h.pageCount) * h.pageSize <= size);
    int tables = 0;
    for (const ods::Table& t : db.tables()) {
      if (++tables > 8) break;
      db.currentFields(t);
      long rows = 0;
      db.scan(t, [&](const std::vector<ods::Value>& row) {
        FUZZ_CHECK(row.size() == t.columns.size());
        ++rows;
        for (const ods::Value& v : row) {
          if (v.null) continue;
          FUZZ_CHECK(v.data != nullptr);
          // Touch every byte the value claims, so a value pointing past its record shows.
          volatile uint8_t sum = 0;
          for (unsigned i = 0; i < v.desc.length; ++i) sum = static_cast<uint8_t>(sum + v.data[i]);
          if (v.desc.dtype == ods::kBlob && rows < 50) db.blob(t, v.data);
        }
      });
    }
  } catch (const ods::OdsError&) {
    // A clear refusal is the expected outcome for damaged input.
  }
  return 0;
}
