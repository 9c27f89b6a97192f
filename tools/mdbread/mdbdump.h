#pragma once
// The text zide-mdbread writes on its standard output: one table, every value length-prefixed so
// that no byte inside a value (line breaks, colons, NULs) can be taken for structure.
//
//   zide-mdbread 1\n
//   c<number of columns>\n
//   <length>:<column name bytes>\n      once per column
//   r\n                                 once per row, followed by one
//   <length>:<value bytes>\n            per column
//   f\n                                 the end: a run cut short never passes for a whole table
//
// Lengths are decimal byte counts without leading zeros. Text is UTF-8; a Null is an empty value.
#include <string>
#include <string_view>

namespace mdbdump {

inline constexpr std::string_view kHeader = "zide-mdbread 1\n";
inline constexpr std::string_view kRow = "r\n";
inline constexpr std::string_view kEnd = "f\n";

inline void columnCount(std::string& out, std::size_t n) {
  out += 'c';
  out += std::to_string(n);
  out += '\n';
}

inline void field(std::string& out, std::string_view value) {
  out += std::to_string(value.size());
  out += ':';
  out.append(value);
  out += '\n';
}

}  // namespace mdbdump
