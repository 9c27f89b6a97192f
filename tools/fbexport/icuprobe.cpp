// The engine finds ICU by asking dlopen for some 150 version numbers in turn ("libicuuc.so.5",
// "libicuuc.so.5_2", ...) until one loads. Each failed name searches every library folder and maps
// and unmaps the loader's cache; in the engine's already multi-threaded process each unmap also
// flushes the TLB of every core. That was half the time of an export started once per table.
//
// This definition, exported from the executable, comes first in the lookup of every library it
// loads. A bare "libicu..." name that none of the library folders holds fails at once (through the
// real dlopen on a path that cannot exist, so dlerror() still explains it); every other call goes
// straight through. If no ICU is seen in those folders at all, nothing is answered here.
#include <dirent.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using DlopenFn = void* (*)(const char*, int);

std::vector<std::string> libraryFolders() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("LD_LIBRARY_PATH")) {
    std::string s = env;
    for (size_t start = 0; start <= s.size();) {
      const size_t end = s.find_first_of(":;", start);
      const std::string d = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!d.empty()) dirs.push_back(d);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  // The cache's folders (Debian's multiarch ones among them) come from these files.
  if (DIR* d = opendir("/etc/ld.so.conf.d")) {
    while (dirent* e = readdir(d)) {
      std::ifstream in(std::string("/etc/ld.so.conf.d/") + e->d_name);
      for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] == '/') dirs.push_back(line.substr(0, line.find_first_of(" \t#")));
    }
    closedir(d);
  }
  for (const char* d : {"/lib", "/usr/lib", "/lib64", "/usr/lib64", "/usr/local/lib"}) dirs.emplace_back(d);
  return dirs;
}

struct IcuNames {
  std::set<std::string> present;
  IcuNames() {
    for (const auto& dir : libraryFolders()) {
      DIR* d = opendir(dir.c_str());
      if (!d) continue;
      while (dirent* e = readdir(d))
        if (std::strncmp(e->d_name, "libicu", 6) == 0) present.insert(e->d_name);
      closedir(d);
    }
  }
};

bool absentIcu(const char* file) {
  if (std::strncmp(file, "libicu", 6) != 0 || std::strchr(file, '/')) return false;
  static const IcuNames names;
  return !names.present.empty() && !names.present.count(file);
}

}  // namespace

extern "C" void* dlopen(const char* file, int mode) {
  static const auto real = reinterpret_cast<DlopenFn>(dlsym(RTLD_NEXT, "dlopen"));
  if (file && absentIcu(file)) {
    const std::string nowhere = std::string("/nonexistent-icu/") + file;
    return real(nowhere.c_str(), mode);
  }
  return real(file, mode);
}
