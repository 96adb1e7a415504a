// PropertyBag <-> JSON: output form, input forms, type inference and refused values.
#include "bag_json.h"

#include <gtest/gtest.h>

namespace vhost {
namespace {

CORE::PropertyBag fromText(const std::string& text) {
  CORE::PropertyBag bag;
  std::string error;
  EXPECT_TRUE(jsonToBag(Json::parse(text), bag, error)) << text << ": " << error;
  return bag;
}

std::string errorFor(const std::string& text) {
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
      {R"([["A","str",5]])", R"(bag entry 1 ("A"): value 5 does not fit type "str")"},
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
  for (const auto& [text, expected] : cases) EXPECT_EQ(errorFor(text), expected);
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
