#pragma once
#include <cstdio>
#include <cstdlib>
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

// Peak resident memory of this process so far, in KiB (VmHWM of /proc/self/status); -1 when unknown.
inline long long BenchPeakKb() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long long kb = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atoll(line + 6);
  std::fclose(f);
  return kb;
}
