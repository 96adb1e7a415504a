// Temporary procfs trees for tests, written in the formats of the kernel's files.
#include "support/linux/fixture_tree.h"

#include <unistd.h>
#include <utmp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <type_traits>

namespace statrix_test {

namespace fs = std::filesystem;

namespace {

// snprintf with every 64-bit figure passed as unsigned long long, as "%llu" wants it.
template <class T>
auto widen(T v) {
  if constexpr (std::is_same_v<T, uint64_t>)
    return static_cast<unsigned long long>(v);
  else
    return v;
}

std::string format(const char* fmt, auto... args) {
  char buf[512];
  int n = std::snprintf(buf, sizeof buf, fmt, widen(args)...);
  return std::string(buf, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

uint64_t pageKb() { return static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)) / 1024; }
uint64_t residentKb(const FakeProcess& p) { return p.rssAnonKb + p.rssFileKb; }
// Address space of a user process: what is resident plus some unmapped reserve.
uint64_t virtualKb(const FakeProcess& p) { return p.kernelThread ? 0 : residentKb(p) + p.vmSwapKb + 10240; }

std::string stateName(char state) {
  const std::map<char, std::string> names = {{'R', "running"}, {'D', "disk sleep"}, {'Z', "zombie"}, {'I', "idle"}};
  auto it = names.find(state);
  return it == names.end() ? "S (sleeping)" : std::string(1, state) + " (" + it->second + ")";
}

}  // namespace

ScopedEnv::~ScopedEnv() {
  if (!set_) return;
  if (previous_)
    ::setenv(name_.c_str(), previous_->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

void ScopedEnv::set(const std::string& value) {
  if (!set_) {
    if (const char* previous = std::getenv(name_.c_str())) previous_ = previous;
    set_ = true;
  }
  ::setenv(name_.c_str(), value.c_str(), 1);
}

FixtureTree::FixtureTree() : root_(dir_.path()) {
  cpus_.resize(1);
  writeStat();
  setMeminfo(16u << 20, 8u << 20);
  setDisks({});
  setInterfaces({});
  setVmstat(0, 0, 0);
  setLoadavg(1, 100);
  setUptime(100000);
}

void FixtureTree::activate() { procfs_.set(root_); }

void FixtureTree::setCpus(std::vector<FakeCpu> cpus) {
  cpus_ = std::move(cpus);
  writeStat();
}

void FixtureTree::setCpuCount(size_t count, FakeCpu each) { setCpus(std::vector<FakeCpu>(count, each)); }

void FixtureTree::setBootTime(uint64_t btime) {
  bootTime_ = btime;
  writeStat();
}

void FixtureTree::setCounters(uint64_t contextSwitches, uint64_t processesCreated, uint64_t running, uint64_t blocked) {
  counters_[0] = contextSwitches;
  counters_[1] = processesCreated;
  counters_[2] = running;
  counters_[3] = blocked;
  writeStat();
}

void FixtureTree::writeStat() {
  FakeCpu sum;
  for (const FakeCpu& c : cpus_) {
    sum.user += c.user, sum.nice += c.nice, sum.system += c.system, sum.idle += c.idle;
    sum.iowait += c.iowait, sum.irq += c.irq, sum.softirq += c.softirq, sum.steal += c.steal;
  }
  auto line = [](const std::string& label, const FakeCpu& c) {
    return label + format(" %llu %llu %llu %llu %llu %llu %llu %llu 0 0\n", c.user, c.nice, c.system, c.idle, c.iowait,
                          c.irq, c.softirq, c.steal);
  };
  std::string text = line("cpu ", sum);
  for (size_t i = 0; i < cpus_.size(); ++i) text += line("cpu" + std::to_string(i), cpus_[i]);
  text += "intr 12345 0 0 0 0\n";
  text += format("ctxt %llu\nbtime %llu\nprocesses %llu\nprocs_running %llu\nprocs_blocked %llu\n", counters_[0],
                 bootTime_, counters_[1], counters_[2], counters_[3]);
  text += "softirq 100 0 10 0 20 30 0 0 40 0 0\n";
  writeFile("stat", text);
}

void FixtureTree::setMeminfo(uint64_t totalKb, uint64_t availableKb, uint64_t swapTotalKb, uint64_t swapFreeKb) {
  auto kb = [](const char* name, uint64_t v) { return format("%-16s%8llu kB\n", name, v); };
  uint64_t free = availableKb / 2, cached = availableKb - free;
  uint64_t used = totalKb > availableKb ? totalKb - availableKb : 0;
  uint64_t swapUsed = swapTotalKb > swapFreeKb ? swapTotalKb - swapFreeKb : 0;
  std::string text = kb("MemTotal:", totalKb) + kb("MemFree:", free) + kb("MemAvailable:", availableKb) +
                     kb("Buffers:", 0) + kb("Cached:", cached) + kb("SwapCached:", 0) + kb("Active:", used) +
                     kb("Inactive:", 0) + kb("SwapTotal:", swapTotalKb) + kb("SwapFree:", swapFreeKb) +
                     kb("Dirty:", 0) + kb("AnonPages:", used) + kb("Shmem:", 0) +
                     kb("CommitLimit:", totalKb / 2 + swapTotalKb) + kb("Committed_AS:", used + swapUsed) +
                     kb("VmallocTotal:", 34359738367ull) + kb("HugePages_Total:", 0);
  writeFile("meminfo", text);
}

void FixtureTree::setDisks(const std::vector<FakeDisk>& disks) {
  std::string text;
  unsigned minor = 0;
  for (const FakeDisk& d : disks) {
    // The kernel's 17 figures: 11 classic, 4 discard, 2 flush.
    text += format("%4u %7u %s %llu 0 %llu %llu %llu 0 %llu %llu %llu %llu %llu 0 0 0 0 0 0\n", 8u, minor++,
                   d.name.c_str(), d.reads, d.sectorsRead, d.msReading, d.writes, d.sectorsWritten, d.msWriting,
                   d.inProgress, d.msDoingIo, d.msReading + d.msWriting);
  }
  writeFile("diskstats", text);
}

void FixtureTree::setInterfaces(const std::vector<FakeInterface>& interfaces) {
  std::string text =
      "Inter-|   Receive                                                |  Transmit\n"
      " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
      "carrier compressed\n";
  for (const FakeInterface& n : interfaces) {
    text += format("%6s: %llu %llu 0 0 0 0 0 0 %llu %llu 0 0 0 0 0 0\n", n.name.c_str(), n.rxBytes, n.rxPackets,
                   n.txBytes, n.txPackets);
  }
  writeFile("net/dev", text);
}

void FixtureTree::setLogins(const std::vector<FakeLogin>& logins) {
  std::string data;
  for (const FakeLogin& login : logins) {
    struct utmp record {};
    record.ut_type = login.type;
    record.ut_pid = static_cast<pid_t>(login.pid);
    record.ut_tv.tv_sec = static_cast<int32_t>(login.loginSeconds);
    std::strncpy(record.ut_line, login.line.c_str(), sizeof record.ut_line);
    std::strncpy(record.ut_user, login.user.c_str(), sizeof record.ut_user);
    std::strncpy(record.ut_host, "fixture", sizeof record.ut_host);
    data.append(reinterpret_cast<const char*>(&record), sizeof record);
  }
  writeFile("utmp", data);
  utmp_.set(utmpPath());
}

void FixtureTree::setVmstat(uint64_t pageFaults, uint64_t pagesIn, uint64_t pagesOut) {
  writeFile("vmstat", format("nr_free_pages 1000\npgpgin 5\npgpgout 6\npswpin %llu\npswpout %llu\npgfault %llu\n"
                             "pgmajfault 3\n",
                             pagesIn, pagesOut, pageFaults));
}

void FixtureTree::setLoadavg(uint64_t running, uint64_t total) {
  writeFile("loadavg", format("0.50 0.40 0.30 %llu/%llu 4242\n", running, total));
}

void FixtureTree::setUptime(uint64_t hundredths) {
  writeFile("uptime", format("%llu.%02llu 1000.00\n", hundredths / 100, hundredths % 100));
}

std::string FixtureTree::statText(const FakeProcess& p) {
  // Fields 1-25 as the kernel prints them, then the 27 later ones (exit_signal 17).
  unsigned long flags = p.kernelThread ? 0x208040ul : 0x400100ul;
  std::string text = format("%u (", p.pid) + p.comm + ") ";
  text += format("%c %u %u %u 0 -1 %lu 0 0 0 0 %llu %llu 0 0 %d %d %u 0 %llu %llu %llu 18446744073709551615", p.state,
                 p.ppid, p.pid, p.pid, flags, p.utime, p.stime, 20 + p.nice, p.nice, p.threads, p.starttime,
                 virtualKb(p) * 1024, residentKb(p) / pageKb());
  text += " 1 1 0 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
  return text;
}

std::string FixtureTree::statusText(const FakeProcess& p) {
  auto kb = [](const char* name, uint64_t v) { return format("%s\t%8llu kB\n", name, v); };
  std::string text = "Name:\t" + p.comm + "\n";
  text += format("Umask:\t0022\nState:\t%s\nTgid:\t%u\nNgid:\t0\nPid:\t%u\nPPid:\t%u\nTracerPid:\t0\n",
                 stateName(p.state).c_str(), p.pid, p.pid, p.ppid);
  text += format("Uid:\t%u\t%u\t%u\t%u\nGid:\t%u\t%u\t%u\t%u\nFDSize:\t64\nGroups:\t\n", p.uid, p.uid, p.uid, p.uid,
                 p.uid, p.uid, p.uid, p.uid);
  text += format("Kthread:\t%d\n", p.kernelThread ? 1 : 0);
  if (!p.kernelThread) {
    text += kb("VmPeak:", virtualKb(p)) + kb("VmSize:", virtualKb(p)) + kb("VmLck:", 0) + kb("VmPin:", 0) +
            kb("VmHWM:", residentKb(p)) + kb("VmRSS:", residentKb(p)) + kb("RssAnon:", p.rssAnonKb) +
            kb("RssFile:", p.rssFileKb) + kb("RssShmem:", 0) + kb("VmData:", p.rssAnonKb) + kb("VmStk:", 132) +
            kb("VmExe:", 20) + kb("VmLib:", 0) + kb("VmPTE:", 40) + kb("VmSwap:", p.vmSwapKb) + kb("HugetlbPages:", 0);
  }
  text +=
      format("Threads:\t%u\nSigQ:\t0/63432\nvoluntary_ctxt_switches:\t10\nnonvoluntary_ctxt_switches:\t1\n", p.threads);
  return text;
}

void FixtureTree::addProcess(const FakeProcess& p) {
  std::string dir = std::to_string(p.pid) + "/";
  fs::create_directories(fs::path(root_) / std::to_string(p.pid));
  writeFile(dir + "stat", statText(p));
  writeFile(dir + "status", statusText(p));
  uint64_t pages = pageKb();
  writeFile(dir + "statm", format("%llu %llu %llu 5 0 %llu 0\n", virtualKb(p) / pages, residentKb(p) / pages,
                                  p.rssFileKb / pages, p.rssAnonKb / pages));
  writeFile(dir + "comm", p.comm + "\n");
  writeFile(dir + "sessionid", std::to_string(p.sessionId));  // the kernel writes no line end
}

void FixtureTree::addProcesses(size_t count, uint32_t firstPid) {
  for (uint32_t i = 0; i < count; ++i)
    addProcess({firstPid + i, "proc" + std::to_string(firstPid + i), 10u + i, 5u + i, 1000u + i, 1024});
}

void FixtureTree::removeProcess(uint32_t pid) { fs::remove_all(fs::path(root_) / std::to_string(pid)); }

void FixtureTree::writeFile(std::string_view relativePath, std::string_view text) {
  fs::path path = fs::path(root_) / relativePath;
  fs::create_directories(path.parent_path());
  // Written beside and renamed over: a reader sees the old text or the new one whole, as a
  // procfs read does, never a file cut short while it is rewritten.
  fs::path staged = path;
  staged.replace_filename("." + path.filename().string() + ".new");
  {
    std::ofstream out(staged, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + staged.string());
  }
  fs::rename(staged, path);
}

void FixtureTree::removeFile(std::string_view relativePath) { fs::remove(fs::path(root_) / relativePath); }

}  // namespace statrix_test
