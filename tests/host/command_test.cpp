// Parsing script lines into commands, and the reasons given for lines that are no command.
#include "command.h"

#include <gtest/gtest.h>

#include "bag_json.h"

namespace vhost {
namespace {

template <class T>
T parsed(const std::string& line) {
  Command c;
  std::string error;
  EXPECT_TRUE(parseCommand(line, c, error)) << line << ": " << error;
  EXPECT_TRUE(std::holds_alternative<T>(c)) << line;
  return std::holds_alternative<T>(c) ? std::get<T>(c) : T{};
}

std::string errorFor(const std::string& line) {
  Command c;
  std::string error;
  EXPECT_FALSE(parseCommand(line, c, error)) << line;
  return error;
}

TEST(Command, DefaultsTheRunnerTestsDoNotSpellOut) {
  OpCommand op = parsed<OpCommand>(R"({"op":"collect","request":null})");
  EXPECT_EQ(op.worker, "perfmon");
  EXPECT_EQ(op.caller, CORE::Caller::Admin);
  EXPECT_EQ(op.request.size(), 0u);
  parsed<ExitCommand>(R"(  {"cmd":"exit"}  )");
  WaitWorkerCommand wait = parsed<WaitWorkerCommand>(R"({"cmd":"waitWorker","name":"perfmon","timeout_ms":250})");
  EXPECT_EQ(wait.timeoutMs, 250u);
  EXPECT_TRUE(wait.installed);
  RegSetCommand multi = parsed<RegSetCommand>(R"({"cmd":"regset","path":"P","type":"multi_sz","value":["a",""]})");
  EXPECT_EQ(multi.value.type, 7u);
  EXPECT_EQ(multi.value.items.size(), 2u);
}

TEST(Command, LinesThatAreNoCommandGetAReason) {
  EXPECT_TRUE(errorFor("{\"cmd\":").starts_with("not valid JSON: "));
  EXPECT_TRUE(errorFor("hello").starts_with("not valid JSON: "));
  const std::pair<const char*, const char*> cases[] = {
      {"[1,2]", "a command must be a JSON object, got [1,2]"},
      {"{}", "a command needs exactly one of \"op\" and \"cmd\""},
      {R"({"op":"x","cmd":"tick"})", "a command needs exactly one of \"op\" and \"cmd\""},
      {R"({"cmd":"jump"})", "unknown command \"jump\""},
      {R"({"cmd":"tick","now":true})", "unknown member \"now\""},
      {R"({"cmd":"waitWorker","name":"p","timeout":5})", "unknown member \"timeout\""},
      {R"({"op":""})", "\"op\" must be a non-empty name, got \"\""},
      {R"({"op":"x","caller":"root"})", R"("caller" must be "admin", "user" or "unknown", got "root")"},
      {R"({"op":"x","request":[["a",1.5]]})",
       R"("request": bag entry 1 ("a"): value 1.5 is not a string, integer, boolean or bag)"},
      {R"({"cmd":"sleep"})", "\"ms\" is missing (a whole number)"},
      {R"({"cmd":"sleep","ms":-1})", "\"ms\" must be a whole number below 2^32, got -1"},
      {R"({"cmd":"params"})", "\"bag\" is missing (a bag or null)"},
      {R"({"cmd":"regset","path":"P","type":"qword","value":1})",
       R"("type" must be "sz", "dword" or "multi_sz", got "qword")"},
      {R"({"cmd":"regset","path":"P","type":"dword","value":4294967296})",
       "\"value\" must be a whole number below 2^32 for type dword, got 4294967296"},
      {R"({"cmd":"regset","path":"P","type":"sz","value":1})", "\"value\" must be a string for type sz, got 1"},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(errorFor(line), expected);
}

TEST(Command, HostileLinesGetAReason) {
  // Numbers no double holds are a JSON error like any other, in a command or alone.
  EXPECT_TRUE(errorFor(R"({"cmd":"sleep","ms":1e999})").starts_with("not valid JSON: ")) << errorFor("1e400");
  EXPECT_TRUE(errorFor("-1e400").starts_with("not valid JSON: "));
  // A NUL byte would end the text for the parser and hide the rest of the line.
  EXPECT_EQ(errorFor(std::string("{\"cmd\":\"tick\"}\0{{{garbage", 25)), "the line holds a NUL byte at column 15");
  EXPECT_EQ(errorFor(std::string("{\"cmd\":\"tick\"}\0", 15)), "the line holds a NUL byte at column 15");
  // Nesting is counted before parsing, outside strings only.
  const std::string nested = "{\"cmd\":\"params\",\"bag\":{\"a\":\"[[[[\\\"{{\"," +
                             std::string(kMaxLineDepth - 2, '[') + std::string(kMaxLineDepth - 2, ']') + "}}";
  EXPECT_EQ(errorFor(nested).find("nests"), std::string::npos) << errorFor(nested);
  const std::string tooDeep = "{\"cmd\":\"params\",\"bag\":{\"a\":" + std::string(kMaxLineDepth - 1, '[') +
                              std::string(kMaxLineDepth - 1, ']') + "}}";
  EXPECT_EQ(errorFor(tooDeep), "the line nests deeper than 100 levels");
  EXPECT_EQ(errorFor(std::string(100000, '[')), "the line nests deeper than 100 levels");
}

TEST(Command, BagsNestedToTheLimitAreAccepted) {
  // The typed form needs two JSON levels per bag: the deepest bag allowed still fits a line.
  std::string bag = "[]";
  for (size_t i = 1; i < kMaxBagDepth; ++i) bag = "[[\"b\",\"bag\"," + bag + "]]";
  ParamsCommand cmd = parsed<ParamsCommand>("{\"cmd\":\"params\",\"bag\":" + bag + "}");
  ASSERT_TRUE(cmd.bag.has_value());
  size_t depth = 1;
  for (CORE::PropertyBag b = *cmd.bag; b.size() == 1; b = b.bagAt(0)) ++depth;
  EXPECT_EQ(depth, kMaxBagDepth);
  std::string where = "\"bag\": bag";
  for (size_t i = 0; i < kMaxBagDepth; ++i) where += " entry 1 (\"b\")";
  EXPECT_EQ(errorFor("{\"cmd\":\"params\",\"bag\":[[\"b\",\"bag\"," + bag + "]]}"),
            where + ": bags are nested deeper than 32 levels");
}

}  // namespace
}  // namespace vhost
