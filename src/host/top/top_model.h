// What the live view shows, kept between passes, and its layout as lines of text for a
// screen of a given size.
#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "human/pass_figures.h"
#include "top/process_sample.h"

namespace vhost {

struct TopModel {
  static constexpr size_t kHistory = 120;  // passes of CPU and memory history kept

  std::optional<PassSummary> latest;
  std::deque<int> cpuHistory, memoryHistory;  // whole percent per pass, -1 where none
  std::vector<ProcessShare> shares;           // of the latest sample
  std::vector<uint32_t> consumers;            // the plug-in's latest consumer list
  std::map<uint32_t, std::string> users;      // owners of the processes shown, by pid
  std::vector<AlarmNote> alarms;              // latest first is last
  size_t alarmTotal = 0;
  std::string endpoint;                       // "http://ADDR:PORT/metrics", or empty
  std::optional<uint32_t> periodMs;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  // Takes one pass in: the summary and the history.
  void addPass(const PassSummary& pass);
  // The busiest `count` processes by CPU or by memory, ties by pid.
  std::vector<const ProcessShare*> busiest(bool byCpu, size_t count) const;
};

// The screen as `height` lines of exactly `width` columns. `unicode` chooses block characters
// for the sparklines (else ASCII). `now` is the time the header shows the run time against.
std::vector<std::string> renderTop(const TopModel& model, int width, int height, bool unicode,
                                   std::chrono::steady_clock::time_point now);

// A sparkline of whole percentages (-1: no value), the latest last, at most `width` columns.
std::string sparkline(const std::deque<int>& values, size_t width, bool unicode);

// `text` cut or padded to exactly `width` columns (one column per code point).
std::string fitColumns(const std::string& text, size_t width);

}  // namespace vhost
