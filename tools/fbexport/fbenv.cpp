#include "fbenv.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>
#include <clocale>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <firebird/Interface.h>

#ifndef FB_SYSTEM_ROOT
#define FB_SYSTEM_ROOT "/usr/lib/x86_64-linux-gnu/firebird/3.0"
#endif

namespace {

// Bump when the private configuration changes, so old roots are not reused.
constexpr const char* kConfVersion = "2";
// Several processes may read one file at once; only the embedded engine is ever asked, so a
// file name is never taken for a server's and nothing goes to the network.
constexpr const char* kFirebirdConf =
    "# Written by the ZIDE export tools.\n"
    "ServerMode = Classic\n"
    "Providers = Engine12\n";

bool isDir(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A folder that is ours alone: a real directory (not a symlink), owned by this user, mode 0700.
bool privateDirOk(const std::string& p) {
  struct stat st {};
  return lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 07777) == 0700;
}

// Makes `p` (or finds it already made) as a private folder; anything else there is refused.
bool ownedPrivateDir(const std::string& p, std::string* error) {
  if (mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "não foi possível criar a pasta " + p + ": " + std::strerror(errno);
    return false;
  }
  if (!privateDirOk(p)) {
    *error = "a pasta " + p + " não pertence a este usuário ou não é só dele (0700)";
    return false;
  }
  return true;
}

bool copyFile(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  // A new private file: whatever stands at the name (a planted link among them) is replaced, never followed.
  unlink(to.c_str());
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return false;
  }
  char buf[1 << 16];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  close(in);
  if (close(out) != 0) ok = false;
  return ok;
}

bool writeText(const std::string& path, const char* text) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  const bool ok = std::fputs(text, f) >= 0;
  return std::fclose(f) == 0 && ok;
}

void removeTree(const std::string& p) {
  if (DIR* d = opendir(p.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string child = p + "/" + name;
      struct stat st {};
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) removeTree(child);
      else unlink(child.c_str());
    }
    closedir(d);
  }
  rmdir(p.c_str());
}

// The packaged engine's folder: where libEngine12 and the character sets are.
std::string systemRoot() {
  std::vector<std::string> candidates;
  if (const char* env = std::getenv("ZIDE_FIREBIRD_SYSTEM_ROOT")) candidates.emplace_back(env);
  candidates.emplace_back(FB_SYSTEM_ROOT);
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Firebird::fb_get_master_interface), &info) && info.dli_fname) {
    std::string lib = info.dli_fname;
    const auto slash = lib.rfind('/');
    if (slash != std::string::npos) candidates.push_back(lib.substr(0, slash) + "/firebird/3.0");
  }
  for (const auto& c : candidates)
    if (isFile(c + "/plugins/libEngine12.so") && isFile(c + "/intl/libfbintl.so")) return c;
  return {};
}

// Identifies the installed engine, so an upgraded package gets a fresh root.
std::string engineKey(const std::string& sys) {
  unsigned long long h = 1469598103934665603ULL;
  auto mix = [&h](unsigned long long v) {
    for (int i = 0; i < 8; ++i) {
      h ^= (v >> (i * 8)) & 0xFF;
      h *= 1099511628211ULL;
    }
  };
  for (const char* f : {"/plugins/libEngine12.so", "/intl/libfbintl.so", "/intl/fbintl.conf"}) {
    struct stat st {};
    if (stat((sys + f).c_str(), &st) == 0) {
      mix(static_cast<unsigned long long>(st.st_size));
      mix(static_cast<unsigned long long>(st.st_mtime));
    }
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s-%016llx", kConfVersion, h);
  return buf;
}

bool buildRoot(const std::string& sys, const std::string& root, std::string* error) {
  const std::string tmp = root + ".tmp." + std::to_string(getpid());
  removeTree(tmp);
  bool ok = mkdir(tmp.c_str(), 0700) == 0 && mkdir((tmp + "/intl").c_str(), 0700) == 0 &&
            writeText(tmp + "/firebird.conf", kFirebirdConf) &&
            copyFile(sys + "/intl/libfbintl.so", tmp + "/intl/libfbintl.so") &&
            copyFile(sys + "/intl/fbintl.conf", tmp + "/intl/fbintl.conf") &&
            symlink((sys + "/plugins").c_str(), (tmp + "/plugins").c_str()) == 0;
  if (ok && isFile(sys + "/firebird.msg"))
    ok = symlink((sys + "/firebird.msg").c_str(), (tmp + "/firebird.msg").c_str()) == 0;
  if (ok && isFile(sys + "/plugins.conf")) ok = copyFile(sys + "/plugins.conf", tmp + "/plugins.conf");
  if (!ok) {
    *error = "não foi possível preparar a configuração do Firebird em " + tmp + ": " + std::strerror(errno);
    removeTree(tmp);
    return false;
  }
  // Another process may have finished the same root first; then ours is not needed.
  if (rename(tmp.c_str(), root.c_str()) != 0) {
    removeTree(tmp);
    if (!isFile(root + "/firebird.conf")) {
      *error = "não foi possível preparar a configuração do Firebird em " + root;
      return false;
    }
  }
  return true;
}

}  // namespace

static std::string g_base;         // the folder of the engine's files, once prepared
static bool g_baseOwnRun = false;  // made for this run alone (removed at exit)
static bool g_lockGiven = false;   // FIREBIRD_LOCK came from the caller

namespace {

// The engine's folder. The user's runtime folder when the session has one (private by definition,
// shared by all of the user's processes); else a folder of this run made with mkdtemp. Never a
// fixed name in a shared temporary folder: anyone could make it first and stop every export.
bool chooseBase(std::string* base, bool* ownRun, std::string* error) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && privateDirOk(runtime)) {
    *base = std::string(runtime) + "/zide-firebird";
    *ownRun = false;
    return ownedPrivateDir(*base, error);
  }
  const char* tmpdir = std::getenv("TMPDIR");
  std::string pattern = (tmpdir && *tmpdir && isDir(tmpdir)) ? tmpdir : "/tmp";
  pattern += "/zide-firebird-" + std::to_string(geteuid()) + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) {
    *error = "não foi possível criar uma pasta temporária em " + pattern + ": " + std::strerror(errno);
    return false;
  }
  *base = name.data();
  *ownRun = true;
  if (!privateDirOk(*base)) {
    *error = "a pasta " + *base + " não pertence a este usuário ou não é só dele (0700)";
    return false;
  }
  return true;
}

}  // namespace

void RemoveRunFolder() {
  if (g_baseOwnRun && !g_base.empty()) removeTree(g_base);
  g_baseOwnRun = false;
}

bool SharedLockFolder() { return !g_baseOwnRun || g_lockGiven; }

bool PrepareEmbeddedFirebird(std::string* error) {
  // File names are handed over as UTF-8; the engine turns them into the system's character set,
  // which for a program that never set its locale is ASCII, and then refuses accented folders.
  std::setlocale(LC_CTYPE, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");

  std::string base;
  bool ownRun = false;
  if (!chooseBase(&base, &ownRun, error)) return false;
  g_base = base;
  g_baseOwnRun = ownRun;
  // Registered before the first call into the engine, so it runs after the engine's own clean-up.
  if (ownRun) std::atexit(RemoveRunFolder);

  const char* lock = std::getenv("FIREBIRD_LOCK");
  g_lockGiven = lock && *lock;
  if (!g_lockGiven) {
    const std::string lockDir = base + "/lock";
    if (!ownedPrivateDir(lockDir, error)) return false;
    setenv("FIREBIRD_LOCK", lockDir.c_str(), 1);
  }

  const std::string sys = systemRoot();
  if (sys.empty()) {
    *error = "o Firebird 3 (motor embarcado) não está instalado";
    return false;
  }
  const std::string root = base + "/root-" + engineKey(sys);
  if (!isFile(root + "/firebird.conf") && !buildRoot(sys, root, error)) return false;
  setenv("FIREBIRD", root.c_str(), 1);
  return true;
}

std::string PrivateCopy(const std::string& file, const std::string& folder, std::string* error) {
  // A folder of the caller's must already be a private one of this user's: never made or
  // followed through a link here.
  struct stat st {};
  if (!folder.empty() &&
      (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 022) != 0)) {
    *error = "a pasta " + folder + " não é uma pasta deste usuário fechada aos outros";
    return {};
  }
  const std::string dir = folder.empty() ? g_base + "/copias" : folder;
  if (folder.empty() && (g_base.empty() || !ownedPrivateDir(dir, error))) return {};
  char name[64];
  std::snprintf(name, sizeof name, "/%d-%lx.gdb", static_cast<int>(getpid()), static_cast<unsigned long>(random()));
  const std::string copy = dir + name;
  if (!copyFile(file, copy)) {
    *error = "não foi possível copiar " + file + " para " + copy + ": " + std::strerror(errno);
    unlink(copy.c_str());
    return {};
  }
  chmod(copy.c_str(), 0600);
  return copy;
}
