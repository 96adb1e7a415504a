// The event sink under concurrent writers: whole lines, each thread's events in order.
#include "event_sink.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>
#include <vector>

namespace vhost {
namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(EventSink, ConcurrentEventsStayWholeLinesInOrder) {
  std::ostringstream out;
  EventSink sink(out, EventSink::Mode::Json);
  constexpr int kThreads = 6, kEach = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&sink, t] {
      for (int i = 0; i < kEach; ++i)
        sink.emit(Json{{"event", "log"}, {"thread", t}, {"seq", i}, {"text", std::string(50 + i % 7, 'x')}});
    });
  for (std::thread& t : threads) t.join();

  std::vector<std::string> all = lines(out.str());
  ASSERT_EQ(all.size(), size_t{kThreads * kEach});
  std::map<int, int> next;
  for (const std::string& l : all) {
    Json e = Json::parse(l);  // throws (fails the test) on a torn line
    int t = e["thread"];
    EXPECT_EQ(e["seq"].get<int>(), next[t]++);
  }
}

}  // namespace
}  // namespace vhost
