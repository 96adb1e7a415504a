// The registry's inotify watcher: a process-wide thread that turns directory events into the
// one-shot signals of RegNotifyChangeKeyValue.
#include "advapi32/registry_notify.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "advapi32/registry_names.h"
#include "common/no_destructor.h"
#include "common/scoped_dir.h"
#include "common/scoped_fd.h"

namespace winapi_linux::registry_notify {
namespace {

// A value is seen when its writer closes it (not at each write, so the new content is complete)
// or when it is renamed into place, renamed away or deleted.
constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

struct Registration {
  uint64_t key;
  bool subtree;
  DWORD filter;
  std::shared_ptr<EventObject> event;
  std::vector<int> watches;  // one reference on each
};

class Notifier {
 public:
  LONG watch(Registration registration, const std::string& dir) {
    std::lock_guard lock(mutex_);
    if (LONG rc = start()) return rc;
    if (LONG rc = addWatch(dir, registration)) return rc;
    if (registration.subtree) {
      bool ignored = false;
      addSubdirectories(dir, registration, ignored);
    }
    registrations_.push_back(std::move(registration));
    return ERROR_SUCCESS;
  }

  void drop(uint64_t key) {
    std::lock_guard lock(mutex_);
    for (auto it = registrations_.begin(); it != registrations_.end();) {
      if (it->key == key) {
        release(*it);
        it = registrations_.erase(it);
      } else {
        ++it;
      }
    }
  }

 private:
  struct Watch {
    std::string path;
    int references = 0;
  };

  // The inotify descriptor and the thread, on first use; both live as long as the process.
  LONG start() {
    if (!fd_.valid()) {
      fd_.reset(inotify_init1(IN_CLOEXEC));
      if (!fd_.valid()) return errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_ACCESS_DENIED;
    }
    if (!running_) {
      try {
        std::thread([this] { run(fd_.get()); }).detach();
      } catch (const std::system_error&) {
        return ERROR_NOT_ENOUGH_MEMORY;
      }
      running_ = true;
    }
    return ERROR_SUCCESS;
  }

  // Takes a reference on the watch of `dir` for the registration (one watch per directory: the
  // kernel answers the same descriptor for the same directory).
  LONG addWatch(const std::string& dir, Registration& registration) {
    int wd = inotify_add_watch(fd_.get(), dir.c_str(), kWatchMask);
    if (wd < 0) {
      switch (errno) {
        case ENOENT: return ERROR_KEY_DELETED;
        case ENOSPC:  // the user's watch limit
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        default: return ERROR_ACCESS_DENIED;
      }
    }
    Watch& watch = watches_[wd];
    if (watch.references++ == 0) watch.path = dir;
    registration.watches.push_back(wd);
    return ERROR_SUCCESS;
  }

  // Watches every key below `dir` (best effort: a key deleted meanwhile is skipped); tells
  // whether any value file was found on the way.
  void addSubdirectories(const std::string& dir, Registration& registration, bool& sawValue) {
    ScopedDir handle(opendir(dir.c_str()));
    if (!handle) return;
    std::vector<std::string> children;
    while (dirent* entry = readdir(handle.get())) {
      if (registry_names::isHidden(entry->d_name)) continue;
      std::string path = dir + "/" + entry->d_name;
      struct stat st {};
      if (lstat(path.c_str(), &st) != 0) continue;  // links to keys are not followed: no cycles
      if (S_ISREG(st.st_mode)) sawValue = true;
      if (S_ISDIR(st.st_mode)) children.push_back(std::move(path));
    }
    handle.reset();
    for (const std::string& child : children) {
      if (addWatch(child, registration) == ERROR_SUCCESS) addSubdirectories(child, registration, sawValue);
    }
  }

  void release(Registration& registration) {
    for (int wd : registration.watches) {
      auto it = watches_.find(wd);
      if (it == watches_.end() || --it->second.references > 0) continue;
      inotify_rm_watch(fd_.get(), wd);
      watches_.erase(it);
    }
    registration.watches.clear();
  }

  void run(int fd) {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // cannot happen with a valid descriptor
      std::vector<std::shared_ptr<EventObject>> signalled;
      {
        std::lock_guard lock(mutex_);
        for (ssize_t offset = 0; offset < n;) {
          auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
          dispatch(*event, signalled);
          offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
      }
      for (const auto& event : signalled) event->set();
    }
  }

  // Ends every registration the event fires, collecting their events.
  void dispatch(const inotify_event& event, std::vector<std::shared_ptr<EventObject>>& signalled) {
    const bool overflow = event.mask & IN_Q_OVERFLOW;  // events were lost: assume everything changed
    const bool self = event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT);
    const std::string_view name = event.len ? std::string_view(event.name) : std::string_view();
    if (!overflow && !self && registry_names::isHidden(name)) return;  // temporary and swap files
    const bool isKey = event.mask & IN_ISDIR;
    const bool valueChanged = !isKey && (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE));
    const bool keyChanged = isKey && (event.mask & (IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE));
    const bool keyAdded = isKey && (event.mask & (IN_CREATE | IN_MOVED_TO));
    std::string parent;
    if (auto it = watches_.find(event.wd); it != watches_.end()) parent = it->second.path;
    // The kernel dropped this watch (its directory is gone): nothing to remove any more.
    if (event.mask & IN_IGNORED) watches_.erase(event.wd);

    for (auto it = registrations_.begin(); it != registrations_.end();) {
      Registration& r = *it;
      bool fires = overflow;
      if (!fires && std::find(r.watches.begin(), r.watches.end(), event.wd) != r.watches.end()) {
        fires = self || (valueChanged && (r.filter & REG_NOTIFY_CHANGE_LAST_SET)) ||
                (keyChanged && (r.filter & REG_NOTIFY_CHANGE_NAME));
        if (!fires && keyAdded && r.subtree && !parent.empty()) {
          // A new key under a watched tree: watch it too; values written into it before its
          // watch existed count as a change now.
          std::string path = parent + "/" + std::string(name);
          bool sawValue = false;
          if (addWatch(path, r) == ERROR_SUCCESS) addSubdirectories(path, r, sawValue);
          fires = sawValue && (r.filter & REG_NOTIFY_CHANGE_LAST_SET);
        }
      }
      if (fires) {
        signalled.push_back(r.event);
        release(r);
        it = registrations_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex mutex_;
  ScopedFd fd_;
  bool running_ = false;
  std::unordered_map<int, Watch> watches_;
  std::list<Registration> registrations_;
};

Notifier& notifier() {
  static NoDestructor<Notifier> instance;
  return instance.get();
}

}  // namespace

LONG watch(uint64_t key, const std::string& dir, bool subtree, DWORD filter, std::shared_ptr<EventObject> event) {
  return notifier().watch(Registration{key, subtree, filter, std::move(event), {}}, dir);
}

void drop(uint64_t key) {
  if (key != 0) notifier().drop(key);
}

}  // namespace winapi_linux::registry_notify
