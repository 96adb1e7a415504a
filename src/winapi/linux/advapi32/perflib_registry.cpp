// Counter-name lists of the registry root, with the catalog's English list as fallback.
#include "advapi32/perflib_registry.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <mutex>

#include "advapi32/perf_catalog.h"
#include "advapi32/registry_names.h"
#include "advapi32/registry_store.h"
#include "common/config.h"
#include "common/no_destructor.h"
#include "common/scoped_fd.h"

namespace winapi_linux::perflib {

namespace {

constexpr std::wstring_view kPerflib[] = {L"Software", L"Microsoft", L"Windows NT", L"CurrentVersion", L"Perflib"};

// What a list was read from, to tell later whether it may have changed: the stat identity of
// a file or directory (a registry write replaces a value's file, so its inode changes; creating
// or removing a key changes its parent directory's times).
struct Identity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{}, ctime{};
  bool operator==(const Identity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

Identity identityOf(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim}; }

std::optional<Identity> identityAt(int dirFd, const char* name) {
  struct stat st{};
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH)) != 0) return std::nullopt;
  return identityOf(st);
}

constexpr char kValueFile[] = "Counter";  // the value's file as the registry writes it

// One language's list as last read. `dir` is kept open on the deepest directory of the key's
// path that existed (the key itself when found): creating or removing a key below it, or
// rewriting a value in it, changes its times, and removing it (also as part of a removed
// ancestor, which must be emptied first) leaves it unlinked. `file` is the value's file, when
// the list was read from it.
struct CachedList {
  std::string root;
  ScopedFd dir;
  Identity dirId;
  bool found = false;  // `dir` is the key itself, not an ancestor
  std::optional<Identity> file;
  std::shared_ptr<const std::vector<std::wstring>> list;  // null: no list in the registry
};

// Still what the registry holds: the same directory, linked and unchanged, and the same value file.
bool stillValid(const CachedList& c, const std::string& root) {
  if (c.root.empty() || c.root != root || !c.dir.valid()) return false;
  struct stat st{};
  if (::fstat(c.dir.get(), &st) != 0 || st.st_nlink == 0) return false;
  if (identityOf(st) != c.dirId) return false;
  // Below an ancestor only the key's creation matters, and that changes the ancestor's times.
  return !c.found || identityAt(c.dir.get(), kValueFile) == c.file;
}

// Walks to Perflib\<language> key by key, remembering how far it got, and reads "Counter".
CachedList readList(const std::string& root, std::wstring_view language) {
  CachedList out;
  out.root = root;
  std::string relative = "HKLM";  // only for openKey's account of the steps taken
  ScopedFd dir;
  if (registry_store::openDirectory(root, relative, false, dir) != ERROR_SUCCESS) {
    out.root.clear();  // no HKLM yet: nothing to watch, look again next time
    return out;
  }
  std::vector<std::wstring_view> steps(std::begin(kPerflib), std::end(kPerflib));
  steps.push_back(language);
  bool found = true;
  for (std::wstring_view step : steps) {
    ScopedFd next;
    if (registry_store::openKey(dir.get(), step, false, next, relative, nullptr) != ERROR_SUCCESS) {
      found = false;
      break;
    }
    dir = std::move(next);
  }
  // Identities taken before the read and compared after it, so that a write in between is not
  // remembered as the state of what was read.
  std::optional<Identity> dirBefore = identityAt(dir.get(), "");
  std::optional<Identity> fileBefore = identityAt(dir.get(), kValueFile);
  if (found) {
    registry_format::Value value;
    if (registry_store::readValue(dir.get(), L"Counter", value) == ERROR_SUCCESS && value.type == REG_MULTI_SZ)
      out.list = std::make_shared<const std::vector<std::wstring>>(std::move(value.items));
    // A value spelled in another case has another file name: read, not remembered.
    if (out.list && !fileBefore) out.root.clear();
  }
  if (!dirBefore || dirBefore != identityAt(dir.get(), "") || fileBefore != identityAt(dir.get(), kValueFile))
    out.root.clear();
  else
    out.dirId = *dirBefore;
  out.found = found;
  out.file = fileBefore;
  out.dir = std::move(dir);
  return out;
}

// The REG_MULTI_SZ value "Counter" of Perflib\<language> in the registry root, if any. Lists are
// looked up on every counter path PDH builds, so each is kept and read again only when its key
// or value file changed. Lock order: `mutex` is a leaf.
std::shared_ptr<const std::vector<std::wstring>> registryList(std::wstring_view language, CachedList& cache,
                                                              std::mutex& mutex) {
  const std::string root = registryRoot();
  std::lock_guard lock(mutex);
  if (!stillValid(cache, root)) cache = readList(root, language);
  return cache.list;
}

}  // namespace

bool isEnglishKey(std::wstring_view subKey) {
  size_t part = 0;
  while (!subKey.empty()) {
    size_t end = subKey.find(L'\\');
    std::wstring_view name = subKey.substr(0, end);
    subKey.remove_prefix(end == std::wstring_view::npos ? subKey.size() : end + 1);
    if (name.empty()) continue;
    std::wstring_view expected = part < std::size(kPerflib) ? kPerflib[part] : part == std::size(kPerflib) ? L"009" : L"";
    if (expected.empty() || !registry_names::sameName(name, expected)) return false;
    ++part;
  }
  return part == std::size(kPerflib) + 1;
}

std::string englishKeyDirectory() { return "Software/Microsoft/Windows NT/CurrentVersion/Perflib/009"; }

bool builtinValue(std::wstring_view valueName, registry_format::Value& value) {
  if (!registry_names::sameName(valueName, L"Counter")) return false;
  value = registry_format::Value{};
  value.type = REG_MULTI_SZ;
  value.items = perf::englishIndexList();
  return true;
}

std::shared_ptr<const std::vector<std::wstring>> localList() {
  static std::mutex mutex;
  static NoDestructor<CachedList> local, english;
  if (auto list = registryList(L"CurrentLanguage", local.get(), mutex)) return list;
  if (auto list = registryList(L"009", english.get(), mutex)) return list;
  static NoDestructor<std::shared_ptr<const std::vector<std::wstring>>> builtin(
      std::make_shared<const std::vector<std::wstring>>(perf::englishIndexList()));
  return builtin.get();
}

}  // namespace winapi_linux::perflib
