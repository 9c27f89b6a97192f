#pragma once
#include <cstdio>
#include <cstring>

// Every benchmark answers --help (or -h) with what it measures and how to run it, before doing
// anything else.
inline bool BenchHelp(int argc, char** argv, const char* text) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(text, stdout);
      return true;
    }
  }
  return false;
}
