// Tests of varnel's value types: CORE::corestring (matching, splitting, numbers, paths and error
// texts; its UTF-8 is the shared codec's, tested there) and CORE::PropertyBag (repeated names,
// set versus add, conversions to a default, deep copies and the error).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "varnel/coreexception.h"
#include "varnel/corestring.h"
#include "varnel/propertybag.h"
#include "winapi.h"

namespace {

using CORE::corestring;
using CORE::PropertyBag;
using Texts = std::vector<std::wstring>;

Texts split(const corestring& s, wchar_t sep, bool trimItems, size_t maxCount = 0) {
  Texts out;
  for (const corestring& item : s.split(sep, trimItems, maxCount)) out.push_back(item.str());
  return out;
}

TEST(Corestring, CompareAndWildMatchIgnoringCase) {
  EXPECT_EQ(corestring(L"\u00c9T\u00c9 \u0414").comparei(L"\u00e9t\u00e9 \u0434"), 0);  // Latin-1, Cyrillic
  EXPECT_LT(corestring(L"abc").comparei(L"ABD"), 0);

  const std::wstring longText(200, L'a');
  const struct {
    const wchar_t* text;
    const wchar_t* pattern;
    bool caseSensitive, expected;
  } cases[] = {
      {L"", L"*", true, true},                    {L"a", L"", true, false},
      {L"", L"?", true, false},                   {L"NOTEPAD", L"note*", true, false},
      {L"svchost", L"s?host", true, false},       {L"abcbcd", L"a*bcd", true, true},
      {L"mississippi", L"m*iss*ppi", true, true}, {L"mississippi", L"m*x*", true, false},
      {L"abc", L"**a**c**", true, true},
      {longText.c_str(), L"*a*a*a*a*a*a*a*a*b", true, false},  // no exponential backtracking
  };
  for (const auto& c : cases)
    EXPECT_EQ(corestring(c.text).wildMatch(c.pattern, c.caseSensitive), c.expected)
        << corestring(c.text).utf8() << " ~ " << corestring(c.pattern).utf8();
}

TEST(Corestring, TrimSplitAndPathParts) {
  EXPECT_EQ(corestring(L" \t\r\n x y \n").trim(), corestring(L"x y"));
  EXPECT_EQ(split(L",a,,b,", L',', false), (Texts{L"", L"a", L"", L"b", L""}));
  EXPECT_EQ(split(L" a , b c ", L',', true), (Texts{L"a", L"b c"}));
  EXPECT_EQ(split(L"k=v=w", L'=', false, 2), (Texts{L"k", L"v=w"}));
  EXPECT_EQ(split(corestring(L"238\0Processor", 13), L'\0', false), (Texts{L"238", L"Processor"}));
  EXPECT_EQ(corestring(L"C:\\x\\statrix.dll").lastPath(), corestring(L"statrix.dll"));
  EXPECT_EQ(corestring(L"a.tar.gz").dropSuffix(), corestring(L"a.tar"));
  EXPECT_EQ(corestring(L"C:\\dir.d\\svchost").dropSuffix(), corestring(L"C:\\dir.d\\svchost"));
  EXPECT_EQ(corestring(L".profile").dropSuffix(), corestring(L".profile"));
}

TEST(Corestring, NumbersBothWaysAndExceptionText) {
  EXPECT_EQ(corestring(INT64_MIN, 10), corestring(L"-9223372036854775808"));
  EXPECT_EQ(corestring(UINT64_MAX, 16), corestring(L"ffffffffffffffff"));
  EXPECT_STREQ(CORE::coreException(corestring(L"caf\u00e9"), 87).what(), "caf\xC3\xA9");
  EXPECT_EQ(corestring(L"  -17 ").toInt(false), -17);
  EXPECT_EQ(corestring(L"12ms").toInt(true), 12);
  EXPECT_EQ(corestring(L"12ms").toInt(false), 0);
  for (const wchar_t* notNumber : {L"", L"abc", L"- 5", L"+"}) EXPECT_EQ(corestring(notNumber).toInt(), 0);
  // Out-of-range values saturate; toUInt wraps negative numbers to 32 bits.
  EXPECT_EQ(corestring(L"2147483648").toInt(), INT32_MAX);
  EXPECT_EQ(corestring(L"-99999999999999999999").toInt(), INT32_MIN);
  EXPECT_EQ(corestring(L"99999999999999999999").toInt64(), INT64_MAX);
  EXPECT_EQ(corestring(L"4294967296").toUInt(), 4294967295u);
  EXPECT_EQ(corestring(L"-1").toUInt(), 4294967295u);
  for (const wchar_t* yes : {L"1", L"TRUE", L" Yes ", L"on", L"-1"}) EXPECT_TRUE(corestring(yes).toBool());
  for (const wchar_t* no : {L"0", L"false", L"off", L"", L"1x"}) EXPECT_FALSE(corestring(no).toBool());
}

TEST(CorestringSystem, ErrorTextsLeaveTheLastErrorAlone) {
  SetLastError(1234);
  const corestring known = corestring::formatError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetLastError(), 1234u);  // callers may read the code after asking for its text
  EXPECT_FALSE(known.empty());
  EXPECT_EQ(known, known.trim());
  EXPECT_EQ(corestring::formatError(0x2FFFFFFFu), corestring(L"Unknown error 805306367"));
}

using Names = std::vector<std::wstring>;

Names names(const PropertyBag& bag) {
  Names out;
  for (size_t i = 0; i < bag.size(); ++i) out.push_back(bag.getName(i).str());
  return out;
}

TEST(PropertyBag, AddAppendsSetReplacesTheFirstEntryInPlaceAndReadersFallBackToTheDefault) {
  PropertyBag bag;
  bag.add(L"x", L"1");
  bag.addInt(L"y", 2);
  bag.add(L"X", L"3");  // names compare ignoring case
  bag.add(L"x", L"5");
  EXPECT_EQ(bag.get(L"x"), corestring(L"1"));  // readers take the first entry
  bag.setInt(L"X", 9);
  EXPECT_EQ(names(bag), (Names{L"X", L"y"}));
  EXPECT_EQ(bag.getInt(L"x"), 9);
  bag.set(L"new", L"v");  // appended when absent
  EXPECT_TRUE(bag.remove(L"Y"));
  EXPECT_EQ(names(bag), (Names{L"X", L"new"}));

  bag.add(L"num", L" 42 ");
  bag.addInt64(L"big", 5000000000);
  bag.addBool(L"t", true);
  bag.addBag(L"inner", PropertyBag());
  EXPECT_EQ(bag.getInt(L"num"), 42);
  EXPECT_EQ(bag.getInt(L"big", 3), 3);  // outside 32 bits: the default
  EXPECT_EQ(bag.getInt(L"inner", 8), 8);
  EXPECT_EQ(bag.get(L"t"), corestring(L"true"));
  EXPECT_EQ(bag.get(L"inner", L"dflt"), corestring(L"dflt"));
  EXPECT_EQ(bag.getBag(L"num").size(), 0u);
}

TEST(PropertyBag, CopiesAreDeepAndCarryTheError) {
  PropertyBag inner;
  inner.add(L"leaf", L"original");
  PropertyBag outer;
  outer.addBag(L"inner", inner);
  inner.set(L"leaf", L"changed after add");
  PropertyBag copy = outer;
  outer.getBag(L"inner").set(L"leaf", L"changed in a getBag copy");
  outer.setBag(L"inner", PropertyBag());
  EXPECT_EQ(copy.getBag(L"inner").get(L"leaf"), corestring(L"original"));

  PropertyBag self;
  self.add(L"a", L"1");
  self.addBag(L"self", self);  // the bag as it was before the add
  EXPECT_EQ(self.getBag(L"self").size(), 1u);

  PropertyBag reply;
  reply.setError(5, L"NotAuthorized");
  PropertyBag replyCopy = reply;
  EXPECT_EQ(replyCopy.getError(), 5u);
  EXPECT_EQ(replyCopy.getErrorText(), corestring(L"NotAuthorized"));
}

}  // namespace
