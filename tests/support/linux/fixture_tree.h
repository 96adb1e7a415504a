// Temporary procfs trees for tests: `stat`, `meminfo` and per-process files written from figures.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/linux/scratch_dir.h"

namespace statrix_test {

// One cpuN line of `stat`, in clock ticks.
struct FakeCpu {
  uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
};

// One line of `diskstats`: cumulative figures of a block device (times in ms, 512-byte sectors).
struct FakeDisk {
  std::string name;
  uint64_t reads = 0, sectorsRead = 0, msReading = 0;
  uint64_t writes = 0, sectorsWritten = 0, msWriting = 0;
  uint64_t inProgress = 0, msDoingIo = 0;
};

// One interface of `net/dev`.
struct FakeInterface {
  std::string name;
  uint64_t rxBytes = 0, rxPackets = 0, txBytes = 0, txPackets = 0;
};

// One utmp record; type 7 is a logged-in user (USER_PROCESS), 8 a dead process.
struct FakeLogin {
  uint32_t pid = 0;
  std::string line;  // "tty1", "pts/0"
  std::string user;
  short type = 7;
  int64_t loginSeconds = 0;  // ut_tv.tv_sec; 0: not recorded
};

// One process. The leading fields are those most tests set: {pid, comm, utime, stime,
// starttime, rssAnonKb, vmSwapKb, sessionId, uid}.
struct FakeProcess {
  uint32_t pid = 0;
  std::string comm;               // as shown in <pid>/stat: spaces, parentheses, "%" allowed
  uint64_t utime = 0, stime = 0;  // clock ticks
  uint64_t starttime = 0;         // clock ticks after boot
  uint64_t rssAnonKb = 0, vmSwapKb = 0;
  uint32_t sessionId = 4294967295u;  // the audit value; 4294967295 means never set
  uint32_t uid = 0;
  uint32_t ppid = 1;
  uint32_t threads = 1;
  uint64_t rssFileKb = 0;
  int nice = 0;
  char state = 'S';
  bool kernelThread = false;  // no memory lines in status, no address space
};

// Sets an environment variable; its earlier value (or its absence) comes back when this goes.
class ScopedEnv {
 public:
  explicit ScopedEnv(std::string name) : name_(std::move(name)) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  void set(const std::string& value);

 private:
  std::string name_;
  bool set_ = false;
  std::optional<std::string> previous_;
};

// A procfs tree in a fresh temporary directory, removed again by the destructor. It starts
// with one processor, boot time 1700000000, 16 GiB of memory with 8 GiB available and no
// processes; every setter rewrites the files it affects at once.
//
//   FixtureTree t;
//   t.setCpus({{100, 0, 50, 1000}, {200, 0, 20, 900}});
//   t.setMeminfo(16 << 20, 4 << 20);
//   t.addProcess({1234, "worker (x)", 300, 40, 5000, 2048, 512, 2, 1000});
//   t.activate();  // VARNEL_PROCFS now names the tree; restored by the destructor
class FixtureTree {
 public:
  FixtureTree();
  FixtureTree(const FixtureTree&) = delete;
  FixtureTree& operator=(const FixtureTree&) = delete;

  const std::string& root() const { return root_; }
  // Points VARNEL_PROCFS at the tree.
  void activate();

  void setCpus(std::vector<FakeCpu> cpus);
  void setCpuCount(size_t count, FakeCpu each = {});
  void setBootTime(uint64_t btime);
  // ctxt, processes, procs_running and procs_blocked of `stat`.
  void setCounters(uint64_t contextSwitches, uint64_t processesCreated, uint64_t running, uint64_t blocked);
  void setMeminfo(uint64_t totalKb, uint64_t availableKb, uint64_t swapTotalKb = 0, uint64_t swapFreeKb = 0);

  // `diskstats`, `net/dev`, `vmstat` (pgfault, pswpin, pswpout), `loadavg` and `uptime`
  // (hundredths of a second). The constructor writes them with no disks and interfaces.
  void setDisks(const std::vector<FakeDisk>& disks);
  void setInterfaces(const std::vector<FakeInterface>& interfaces);
  void setVmstat(uint64_t pageFaults, uint64_t pagesIn, uint64_t pagesOut);
  void setLoadavg(uint64_t running, uint64_t total);
  void setUptime(uint64_t hundredths);

  // Writes the records to <root>/utmp and points VARNEL_UTMP at it (restored by the destructor).
  void setLogins(const std::vector<FakeLogin>& logins);
  std::string utmpPath() const { return root_ + "/utmp"; }

  // Writes <pid>/stat, status, statm, comm and sessionid.
  void addProcess(const FakeProcess& process);
  // `count` processes with pids firstPid, firstPid + 1, ..., named "proc<pid>".
  void addProcesses(size_t count, uint32_t firstPid = 1000);
  void removeProcess(uint32_t pid);

  // Raw access for garbled text and processes that vanish: paths relative to the root.
  void writeFile(std::string_view relativePath, std::string_view text);
  void removeFile(std::string_view relativePath);

  // The text addProcess writes, for tests that want to alter it.
  static std::string statText(const FakeProcess& process);
  static std::string statusText(const FakeProcess& process);

 private:
  void writeStat();

  ScratchDir dir_;
  std::string root_;
  std::vector<FakeCpu> cpus_;
  uint64_t bootTime_ = 1700000000;
  uint64_t counters_[4] = {1000, 100, 1, 0};
  ScopedEnv procfs_{"VARNEL_PROCFS"}, utmp_{"VARNEL_UTMP"};
};

}  // namespace statrix_test
