// The live view on a real terminal: varnel-host --top in a tmux pane on a fixture machine with
// one busy process; the screen is read back, resized, and q ends the run cleanly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/scratch_dir.h"

namespace {

std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The tmux server of this test: its own socket, so nothing else is touched; the session it
// starts is killed by name when the test ends.
class TmuxSession {
 public:
  TmuxSession() : socket_("statrix-top-" + std::to_string(getpid())) {}
  ~TmuxSession() {
    if (started_) run("kill-session -t view");
  }
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  bool start(const std::string& command, int width, int height) {
    // The pane stays a while after the program ends, so its last lines can be read.
    started_ = run("new-session -d -s view -x " + std::to_string(width) + " -y " + std::to_string(height) + " " +
                   shellQuote(command + "; sleep 60")) == 0;
    return started_;
  }
  int run(const std::string& arguments) {
    return std::system(("tmux -L " + socket_ + " " + arguments + " >/dev/null 2>&1").c_str());
  }
  std::string screen() {
    std::string text;
    FILE* pipe = popen(("tmux -L " + socket_ + " capture-pane -p -t view 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return text;
    std::array<char, 4096> buffer;
    while (size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) text.append(buffer.data(), n);
    pclose(pipe);
    return text;
  }

 private:
  std::string socket_;
  bool started_ = false;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The pass number in the view's top line, or 0.
int passShown(const std::string& screen) {
  const size_t at = screen.find("  pass ");
  return at == std::string::npos || at > screen.find('\n') ? 0 : std::atoi(screen.c_str() + at + 7);
}

// The widest line of a screen, in code points.
size_t widest(const std::string& screen) {
  std::istringstream in(screen);
  size_t most = 0;
  for (std::string line; std::getline(in, line);) {
    size_t columns = 0;
    for (unsigned char c : line) columns += (c & 0xC0) != 0x80;
    most = std::max(most, columns);
  }
  return most;
}

TEST(TopView, ShowsTheBusiestProcessFollowsResizesAndQuitsCleanly) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  statrix_test::ScratchDir dir;
  statrix_test::FixtureTree tree;
  statrix_test::FakeCpu cpu{1000, 0, 0, 1000};
  tree.setCpus({cpu});
  statrix_test::FakeProcess spinner{4242, "spinner", 100, 0, 500, 1024};
  tree.addProcess(spinner);
  tree.addProcess({77, "sleeper", 10, 0, 400, 4096});

  const std::string status = dir.path() + "/status";
  TmuxSession tmux;
  ASSERT_TRUE(tmux.start("LANG=C.UTF-8 VARNEL_PROCFS=" + shellQuote(tree.root()) +
                             " VARNEL_REGISTRY=" + shellQuote(dir.path() + "/registry") + " " +
                             shellQuote(std::string(STATRIX_BIN_DIR) + "/varnel-host") +
                             " --top --set SamplingIntervalSeconds=5; echo \"exit $?\" > " + shellQuote(status),
                         100, 40));

  // The machine is half busy, and the spinner takes 40 of every 100 ticks.
  std::string screen;
  const bool shown = statrix_test::waitUntil(
      [&] {
        cpu.user += 50;
        cpu.idle += 50;
        tree.setCpus({cpu});
        spinner.utime += 40;
        tree.addProcess(spinner);
        screen = tmux.screen();
        // Any pass after the first: a pass whose five seconds this loop was starved through
        // shows no movement, and the next one shows the half again.
        return passShown(screen) >= 2 && contains(screen, "CPU     50%");
      },
      std::chrono::seconds(40));
  ASSERT_TRUE(shown) << screen;
  EXPECT_TRUE(contains(screen, "memory  50% (8.6 of 17.2 GB used)")) << screen;
  EXPECT_TRUE(contains(screen, "2 processes")) << screen;
  // The spinner leads the CPU table, with its owner and share.
  const size_t table = screen.find("busiest by CPU");
  ASSERT_NE(table, std::string::npos) << screen;
  const size_t firstRow = screen.find('\n', screen.find('\n', table) + 1) + 1;
  const std::string row = screen.substr(firstRow, screen.find('\n', firstRow) - firstRow);
  EXPECT_TRUE(contains(row, "4242 spinner")) << screen;
  EXPECT_TRUE(contains(row, "\\root")) << screen;
  // 40 of 100 ticks; a sample between the two files' updates may be a little off.
  const double share = std::stod(row.substr(row.find_last_not_of(' ', row.size() - 1) - 4));
  EXPECT_NEAR(share, 40.0, 2.0) << screen;

  ASSERT_EQ(tmux.run("resize-window -t view -x 60 -y 16"), 0);
  ASSERT_TRUE(statrix_test::waitUntil(
      [&] {
        screen = tmux.screen();
        // A pass that read the fixture while it was rewritten may miss the spinner: the next has it.
        return widest(screen) <= 60 && contains(screen, "busiest by CPU") && contains(screen, "spinner");
      },
      std::chrono::seconds(15)))
      << screen;

  ASSERT_EQ(tmux.run("send-keys -t view q"), 0);
  ASSERT_TRUE(statrix_test::waitUntil([&] { return statrix_test::readFile(status) == "exit 0\n"; },
                                      std::chrono::seconds(30)))
      << statrix_test::readFile(status) << tmux.screen();
  EXPECT_TRUE(contains(tmux.screen(), "PluginExit done, plug-in unloaded")) << tmux.screen();
}

}  // namespace
