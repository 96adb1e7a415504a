// File-system side of the registry: key directories, value files and atomic replacement.
#include "advapi32/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "advapi32/registry_names.h"
#include "common/scoped_dir.h"
#include "common/scoped_fd.h"
#include "common/wide_text.h"

namespace winapi_linux::registry_store {
namespace {

enum class Kind { Key, Value };

LONG fromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;  // EACCES, EPERM, EROFS, EISDIR, ENOSPC, EIO, ...
  }
}

bool isKind(const std::string& path, Kind kind) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  return kind == Kind::Key ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
}

// Calls visit(fileName, decodedName) for every entry that is a name of the registry.
template <class Visit>
LONG forEachName(const std::string& dir, Visit visit) {
  ScopedDir handle(opendir(dir.c_str()));
  if (!handle) return errno == ENOENT ? ERROR_KEY_DELETED : fromErrno(errno);
  while (dirent* entry = readdir(handle.get())) {
    std::string_view fileName = entry->d_name;
    if (registry_names::isHidden(fileName)) continue;
    auto name = wide_text::fromUtf8(registry_names::decode(fileName));
    if (!name) continue;  // not a name this registry could have written
    visit(std::string(fileName), *name);
  }
  return ERROR_SUCCESS;
}

// A NUL cannot be part of a name: the Win32 calls end names there, so accepting one here would
// let "name<NUL>tail" and "name" alias.
bool validName(std::wstring_view name) { return name.find(L'\0') == std::wstring_view::npos; }

// The file name of the entry called `name` (empty when there is none).
LONG findEntry(const std::string& dir, std::wstring_view name, Kind kind, std::string& fileName) {
  fileName.clear();
  if (!validName(name)) return ERROR_INVALID_PARAMETER;
  auto utf8 = wide_text::toUtf8(name);
  if (!utf8) return ERROR_INVALID_PARAMETER;
  std::string exact = registry_names::encode(*utf8);
  if (isKind(dir + "/" + exact, kind)) {
    fileName = exact;
    return ERROR_SUCCESS;
  }
  // Another spelling of the name; of several, the first in byte order, so the choice is stable.
  return forEachName(dir, [&](const std::string& candidate, const std::wstring& decoded) {
    if (!registry_names::sameName(decoded, name)) return;
    if (!fileName.empty() && candidate >= fileName) return;
    if (isKind(dir + "/" + candidate, kind)) fileName = candidate;
  });
}

LONG makeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return fromErrno(errno);
    if (slash == std::string::npos) return ERROR_SUCCESS;
  }
}

std::vector<std::wstring_view> components(std::wstring_view path) {
  std::vector<std::wstring_view> out;
  while (!path.empty()) {
    size_t end = path.find(L'\\');
    if (end != 0) out.push_back(path.substr(0, end));
    path.remove_prefix(end == std::wstring_view::npos ? path.size() : end + 1);
  }
  return out;
}

LONG readFile(const std::string& path, std::string& content) {
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return fromErrno(errno);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return fromErrno(errno);
  // Larger files were not written by this registry: refused rather than read into memory.
  if (st.st_size > static_cast<off_t>(registry_format::kMaxContent)) return ERROR_INVALID_DATA;
  content.clear();
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fromErrno(errno);
    if (n == 0) return ERROR_SUCCESS;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > registry_format::kMaxContent) return ERROR_INVALID_DATA;
  }
}

LONG writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fromErrno(errno);
    data.remove_prefix(static_cast<size_t>(n));
  }
  return ERROR_SUCCESS;
}

// A temporary file that is removed unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(const std::string& dir) : path_(dir + "/.tmp.XXXXXX") {
    fd_.reset(mkostemp(path_.data(), O_CLOEXEC));
    if (!fd_.valid()) path_.clear();
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  int fd() const { return fd_.get(); }
  bool valid() const { return fd_.valid(); }

  LONG commit(const std::string& target) {
    // Readable like any file the user writes; mkostemp creates it private.
    if (fchmod(fd_.get(), 0644) != 0) return fromErrno(errno);
    if (close(fd_.release()) != 0) return fromErrno(errno);
    if (rename(path_.c_str(), target.c_str()) != 0) return fromErrno(errno);
    path_.clear();
    return ERROR_SUCCESS;
  }

 private:
  std::string path_;
  ScopedFd fd_;
};

}  // namespace

LONG openKey(const std::string& baseDir, std::wstring_view subKey, bool create, std::string& dir, bool* created) {
  if (created) *created = false;
  dir = baseDir;
  const std::vector<std::wstring_view> names = components(subKey);
  // Checked before anything is made, so a bad name deep in the path leaves nothing behind.
  for (std::wstring_view name : names)
    if (!validName(name) || !wide_text::toUtf8(name)) return ERROR_INVALID_PARAMETER;
  if (create) {
    if (LONG rc = makeDirectories(baseDir)) return rc;
  }
  // Keys this call made, removed again (deepest first) when a later step fails. rmdir only
  // removes empty directories, so a key another writer filled meanwhile stays.
  std::vector<std::string> made;
  auto fail = [&made](LONG rc) {
    for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
    return rc;
  };
  for (std::wstring_view name : names) {
    std::string fileName;
    LONG rc = findEntry(dir, name, Kind::Key, fileName);
    if (rc == ERROR_KEY_DELETED) rc = ERROR_FILE_NOT_FOUND;
    if (rc != ERROR_SUCCESS) return fail(rc);
    if (fileName.empty()) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      fileName = registry_names::encode(*wide_text::toUtf8(name));
      if (mkdir((dir + "/" + fileName).c_str(), 0755) == 0) {
        made.push_back(dir + "/" + fileName);
        if (created) *created = true;
      } else {
        // EEXIST with a directory: another writer made the key a moment ago.
        int error = errno;
        if (error != EEXIST || !isKind(dir + "/" + fileName, Kind::Key)) return fail(fromErrno(error));
        if (created) *created = false;
      }
    } else if (created) {
      *created = false;
    }
    dir += "/" + fileName;
  }
  return ERROR_SUCCESS;
}

LONG readValue(const std::string& keyDir, std::wstring_view name, registry_format::Value& value) {
  std::string fileName;
  if (LONG rc = findEntry(keyDir, name, Kind::Value, fileName)) return rc;
  if (fileName.empty()) return ERROR_FILE_NOT_FOUND;
  std::string content;
  if (LONG rc = readFile(keyDir + "/" + fileName, content)) return rc;
  auto parsed = registry_format::parse(content);
  if (!parsed) return ERROR_INVALID_DATA;
  value = std::move(*parsed);
  return ERROR_SUCCESS;
}

LONG writeValue(const std::string& keyDir, std::wstring_view name, const registry_format::Value& value) {
  auto content = registry_format::format(value);
  if (!content) return ERROR_INVALID_PARAMETER;
  if (content->size() > registry_format::kMaxContent) return ERROR_FILE_TOO_LARGE;
  std::string fileName;
  if (LONG rc = findEntry(keyDir, name, Kind::Value, fileName)) return rc;
  // A new value takes the caller's spelling; an existing one keeps its own.
  if (fileName.empty()) fileName = registry_names::encode(*wide_text::toUtf8(name));
  TempFile temp(keyDir);
  if (!temp.valid()) return errno == ENOENT ? ERROR_KEY_DELETED : fromErrno(errno);
  if (LONG rc = writeAll(temp.fd(), *content)) return rc;
  return temp.commit(keyDir + "/" + fileName);
}

LONG deleteValue(const std::string& keyDir, std::wstring_view name) {
  std::string fileName;
  if (LONG rc = findEntry(keyDir, name, Kind::Value, fileName)) return rc;
  if (fileName.empty()) return ERROR_FILE_NOT_FOUND;
  if (unlink((keyDir + "/" + fileName).c_str()) != 0) return fromErrno(errno);
  return ERROR_SUCCESS;
}

LONG listValues(const std::string& keyDir, std::vector<std::wstring>& names) {
  std::vector<std::pair<std::wstring, std::wstring>> found;  // (sort key, name)
  LONG rc = forEachName(keyDir, [&](const std::string& fileName, const std::wstring& name) {
    if (isKind(keyDir + "/" + fileName, Kind::Value)) found.emplace_back(registry_names::upperCase(name), name);
  });
  if (rc) return rc;
  std::sort(found.begin(), found.end());
  names.clear();
  for (auto& entry : found) names.push_back(std::move(entry.second));
  return ERROR_SUCCESS;
}

}  // namespace winapi_linux::registry_store
