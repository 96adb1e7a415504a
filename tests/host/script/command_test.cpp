// Parsing script lines into commands, the bags inside them (JSON <-> PropertyBag: output form,
// input forms, type inference), and the reasons given for lines that are no command or bag.
#include "script/command.h"

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
  const std::pair<const char*, const char*> cases[] = {
      {"[1,2]", "a command must be a JSON object, got [1,2]"},
      {"{}", "a command needs exactly one of \"op\" and \"cmd\""},
      {R"({"cmd":"jump"})", "unknown command \"jump\""},
      {R"({"cmd":"waitWorker","name":"p","timeout":5})", "unknown member \"timeout\""},
      {R"({"op":""})", "\"op\" must be a non-empty name, got \"\""},
      {R"({"op":"x","caller":"root"})", R"("caller" must be "admin", "user" or "unknown", got "root")"},
      {R"({"op":"x","request":[["a",1.5]]})",
       R"("request": bag entry 1 ("a"): value 1.5 is not a string, integer, boolean or bag)"},
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

CORE::PropertyBag fromText(const std::string& text) {
  CORE::PropertyBag bag;
  std::string error;
  EXPECT_TRUE(jsonToBag(Json::parse(text), bag, error)) << text << ": " << error;
  return bag;
}

std::string bagError(const std::string& text) {
  CORE::PropertyBag bag;
  std::string error;
  EXPECT_FALSE(jsonToBag(Json::parse(text), bag, error)) << text;
  return error;
}

TEST(BagJson, TypedInputRoundTrips) {
  const std::string text =
      R"([["A","str","x"],["B","i32",-2147483648],["C","i64",2],["D","bool",false],)"
      R"(["E","bag",[["F","i32",1],["G","bag",[]]]],["A","str","y"]])";
  EXPECT_EQ(dumpLine(bagToJson(fromText(text))), text);
}

TEST(BagJson, ShortEntriesAndObjectsInferTypes) {
  // Object members keep the order they were written in.
  CORE::PropertyBag bag = fromText(
      R"([["s","text"],["small",2147483647],["neg",-2147483648],["big",2147483648],["low",-2147483649],)"
      R"(["b",true],["arr",[["x",1]]],["obj",{"z":"last","a":"first"}]])");
  EXPECT_EQ(dumpLine(bagToJson(bag)),
            R"([["s","str","text"],["small","i32",2147483647],["neg","i32",-2147483648],["big","i64",2147483648],)"
            R"(["low","i64",-2147483649],["b","bool",true],["arr","bag",[["x","i32",1]]],)"
            R"(["obj","bag",[["z","str","last"],["a","str","first"]]]])");
}

TEST(BagJson, TextSurvivesUnicodeAndEscapes) {
  const std::string text = "[[\"N\xC3\xA4me\",\"str\",\"\\u0000%s\\t\\\"\xE2\x82\xAC\xF0\x9F\x98\x80\"]]";
  CORE::PropertyBag bag = fromText(text);
  EXPECT_EQ(bag.getName(0).str(), L"N\u00e4me");
  EXPECT_EQ(bag.stringAt(0).str(), std::wstring(L"\0%s\t\"\u20ac", 6) + CORE::corestring::fromUtf8("\xF0\x9F\x98\x80").str());
  EXPECT_EQ(dumpLine(bagToJson(bag)), text);
}

TEST(BagJson, RefusesWhatIsNoBagEntry) {
  const std::pair<const char*, const char*> cases[] = {
      {R"([["A","i32",2147483648]])", R"(bag entry 1 ("A"): value 2147483648 does not fit type "i32")"},
      {R"([["A","i32",1.5]])", R"(bag entry 1 ("A"): value 1.5 does not fit type "i32")"},
      {R"({"A":null})", R"(bag member "A": value null is not a string, integer, boolean or bag)"},
      {R"({"M":[{"x":1}]})", R"(bag member "M" entry 1: expected [name, type, value] or [name, value], got {"x":1})"},
      {R"("text")", R"(bag: a bag must be an array of entries or an object, got "text")"},
      {R"([["A","x",1],"B"])", R"(bag entry 1 ("A"): unknown type "x" (str, i32, i64, bool or bag))"},
      {R"([["A",1],"B"])", R"(bag entry 2: expected [name, type, value] or [name, value], got "B")"},
      {R"([["A","str","x",1]])",
       R"(bag entry 1: expected [name, type, value] or [name, value], got ["A","str","x",1])"},
      {R"([[1,"x"]])", R"(bag entry 1: the name must be a string, got 1)"},
      // A nested entry is named by its path.
      {R"([["ok",1],["SUB","bag",[["x",1],["y",1.5]]]])",
       R"(bag entry 2 ("SUB") entry 2 ("y"): value 1.5 is not a string, integer, boolean or bag)"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(bagError(text), expected);
}

TEST(BagJson, DeepNestingIsRefusedWithAShortReason) {
  // Built in code, so no parser limit applies: the conversion itself must stop.
  Json deep = Json::object();
  for (int i = 0; i < 5000; ++i) {
    Json outer = Json::object();
    outer["a"] = std::move(deep);
    deep = std::move(outer);
  }
  CORE::PropertyBag bag;
  std::string error;
  EXPECT_FALSE(jsonToBag(deep, bag, error));
  EXPECT_TRUE(error.ends_with(": bags are nested deeper than 32 levels")) << error.substr(0, 200);
  EXPECT_LT(error.size(), 500u) << error.substr(0, 200);
  // Values in error texts are cut short, however large or deep.
  Json wide = Json::array();
  for (int i = 0; i < 10000; ++i) wide.push_back(i);
  std::string bad;
  EXPECT_FALSE(jsonToBag(Json::array({Json::array({"A", "i32", wide})}), bag, bad));
  EXPECT_TRUE(bad.starts_with(R"(bag entry 1 ("A"): value [0,1,2,3,)")) << bad;
  EXPECT_LT(bad.size(), 200u);
  EXPECT_FALSE(jsonToBag(Json::object({{std::string(1000, 'n'), nullptr}}), bag, bad));
  EXPECT_EQ(bad, "bag member \"" + std::string(60, 'n') + "...\": value null is not a string, integer, boolean or bag");
  EXPECT_EQ(brief(deep).size(), 103u);
  EXPECT_TRUE(brief(deep).starts_with(R"({"a":{"a":)"));
  EXPECT_EQ(brief(Json(std::string(500, 'x'))), "\"" + std::string(99, 'x') + "...");
}

TEST(BagJson, InvalidUtf8IsReplacedOnOutput) {
  // Text from outside may carry bytes that are no UTF-8; printing it must not throw.
  EXPECT_EQ(dumpLine(Json("a\xFF" "b")), "\"a\xEF\xBF\xBD" "b\"");
}

}  // namespace
}  // namespace vhost
