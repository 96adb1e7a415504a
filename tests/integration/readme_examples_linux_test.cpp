// The examples in README.md run against this build on a fixture machine and print what the
// README shows, so they cannot go stale.
//
// An example is a ```console block right after the line "<!-- example -->". Each "$ " line is
// a command for bash, continued by the "> " lines right after it; the lines up to the next
// command are its expected output, where a line "..." stands for any number of lines and "…"
// inside a line for any text (times, durations). Commands run in a scratch directory with the build's
// bin/ first on PATH, VARNEL_PROCFS on a fixture tree (16 GiB of memory, 8 GiB available, one
// processor) and VARNEL_REGISTRY in the scratch directory; "127.0.0.1:9464" is replaced by a
// free loopback port.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/linux/child_process.h"
#include "support/linux/fixture_tree.h"
#include "support/linux/scratch_dir.h"

namespace {

struct Command {
  std::string line;
  std::vector<std::string> expected;
};

struct Example {
  size_t readmeLine = 0;
  std::vector<Command> commands;
};

std::vector<Example> readExamples(const std::string& path) {
  std::ifstream in(path);
  std::vector<Example> examples;
  std::string line;
  size_t number = 0;
  bool marked = false, inside = false;
  while (std::getline(in, line)) {
    ++number;
    if (inside) {
      if (line == "```") {
        inside = false;
      } else if (line.starts_with("$ ")) {
        examples.back().commands.push_back({line.substr(2), {}});
      } else if (line.starts_with("> ") && !examples.back().commands.empty() &&
                 examples.back().commands.back().expected.empty()) {
        examples.back().commands.back().line += "\n" + line.substr(2);
      } else if (!examples.back().commands.empty()) {
        examples.back().commands.back().expected.push_back(line);
      }
      continue;
    }
    if (marked && line == "```console") {
      inside = true;
      examples.push_back({number, {}});
    }
    marked = line == "<!-- example -->";
  }
  return examples;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// One expected line against an actual one; "…" matches any text.
bool lineMatches(const std::string& expected, const std::string& actual) {
  static const std::string kAny = "…";
  size_t cut = expected.find(kAny);
  if (cut == std::string::npos) return expected == actual;
  if (actual.compare(0, cut, expected, 0, cut) != 0) return false;
  const std::string rest = expected.substr(cut + kAny.size());
  for (size_t from = cut; from <= actual.size(); ++from)
    if (lineMatches(rest, actual.substr(from))) return true;
  return false;
}

// Expected lines against actual ones; "..." matches any run of lines.
bool matches(const std::vector<std::string>& expected, size_t e, const std::vector<std::string>& actual, size_t a) {
  if (e == expected.size()) return a == actual.size();
  if (expected[e] == "...") {
    for (size_t skip = a; skip <= actual.size(); ++skip)
      if (matches(expected, e + 1, actual, skip)) return true;
    return false;
  }
  return a < actual.size() && lineMatches(expected[e], actual[a]) && matches(expected, e + 1, actual, a + 1);
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string shellQuote(const std::string& text) { return "'" + replaceAll(text, "'", "'\\''") + "'"; }

TEST(ReadmeExamples, EveryExamplePrintsWhatTheReadmeShows) {
  const char* source = std::getenv("STATRIX_SOURCE");
  ASSERT_NE(source, nullptr) << "STATRIX_SOURCE not set";
  std::vector<Example> examples = readExamples(std::string(source) + "/README.md");
  ASSERT_GE(examples.size(), 3u) << "README.md has fewer examples than expected";
  statrix_test::ScratchDir log;  // outside the directory the commands see
  const std::string outputFile = log.path() + "/output";
  for (const Example& example : examples) {
    statrix_test::ScratchDir dir;
    statrix_test::FixtureTree tree;
    const std::string address = "127.0.0.1:" + std::to_string(statrix_test::freeLoopbackPort());
    for (const Command& command : example.commands) {
      std::string script = "cd " + shellQuote(dir.path()) + " && export PATH=" + shellQuote(STATRIX_BIN_DIR) +
                           ":\"$PATH\" VARNEL_PROCFS=" + shellQuote(tree.root()) +
                           " VARNEL_REGISTRY=" + shellQuote(dir.path() + "/registry") + " || exit 1\n" +
                           replaceAll(command.line, "127.0.0.1:9464", address);
      int status = std::system(("bash -c " + shellQuote(script) + " > " + shellQuote(outputFile) + " 2>&1").c_str());
      std::string output = statrix_test::readFile(outputFile);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "README.md:" << example.readmeLine << ": " << command.line << " failed:\n" << output;
      EXPECT_TRUE(matches(command.expected, 0, lines(output), 0))
          << "README.md:" << example.readmeLine << ": " << command.line << "\n--- expected\n"
          << testing::PrintToString(command.expected) << "\n--- got\n"
          << output;
    }
  }
}

}  // namespace
