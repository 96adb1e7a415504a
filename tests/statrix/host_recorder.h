// Records the log lines and broadcasts the module sends to its host, for tests on every platform.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "varnel/host_control.h"
#include "varnel/varnel.h"

namespace statrix_test {

class HostRecorder : public CORE::HostObserver {
 public:
  struct Broadcast {
    std::wstring name2;
    CORE::PropertyBag bag;
  };

  HostRecorder() { CORE::setHostObserver(this); }
  ~HostRecorder() override { CORE::setHostObserver(nullptr); }

  void onSysMessage(int level, const std::wstring&, const std::wstring& text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.push_back({level, text});
  }
  void onBroadcast(const CORE::corestring&, const CORE::corestring& name2, const CORE::PropertyBag& bag) override {
    std::lock_guard<std::mutex> hold(mutex_);
    broadcasts_.push_back({name2.str(), bag});
  }

  // Lines at `level` or above, in order.
  std::vector<std::wstring> lines(int level = 2) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::wstring> out;
    for (const auto& [lineLevel, text] : lines_)
      if (lineLevel >= level) out.push_back(text);
    return out;
  }
  // Lines of any level that start with `prefix`.
  size_t count(const std::wstring& prefix) const {
    std::lock_guard<std::mutex> hold(mutex_);
    size_t n = 0;
    for (const auto& line : lines_) n += line.second.starts_with(prefix) ? 1 : 0;
    return n;
  }
  std::vector<Broadcast> broadcasts() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return broadcasts_;
  }
  void clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.clear();
    broadcasts_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int, std::wstring>> lines_;
  std::vector<Broadcast> broadcasts_;
};

}  // namespace statrix_test
