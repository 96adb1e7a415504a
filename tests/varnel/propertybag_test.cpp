// Tests of CORE::PropertyBag: order, repeated names, set versus add, nesting, conversions and the error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "varnel/propertybag.h"

namespace {

using CORE::corestring;
using CORE::PropertyBag;
using Names = std::vector<std::wstring>;

Names names(const PropertyBag& bag) {
  Names out;
  for (size_t i = 0; i < bag.size(); ++i) out.push_back(bag.getName(i).str());
  return out;
}

TEST(PropertyBag, AddAppendsAndSetReplacesTheFirstEntryInPlace) {
  PropertyBag bag;
  bag.add(L"x", L"1");
  bag.addInt(L"y", 2);
  bag.add(L"X", L"3");  // names compare ignoring case
  bag.addInt64(L"z", 5000000000);
  bag.add(L"x", L"5");
  EXPECT_EQ(names(bag), (Names{L"x", L"y", L"X", L"z", L"x"}));
  EXPECT_EQ(bag.get(L"x"), corestring(L"1"));  // readers take the first entry
  EXPECT_EQ(bag.stringAt(2), corestring(L"3"));

  bag.setInt(L"X", 9);
  EXPECT_EQ(names(bag), (Names{L"X", L"y", L"z"}));
  EXPECT_EQ(bag.typeAt(0), PropertyBag::Type::Int32);
  EXPECT_EQ(bag.getInt(L"x"), 9);
  bag.set(L"new", L"v");  // appended when absent
  EXPECT_TRUE(bag.remove(L"Y"));
  EXPECT_EQ(names(bag), (Names{L"X", L"z", L"new"}));
  EXPECT_EQ(bag.getName(99), corestring());
}

TEST(PropertyBag, ConversionsAndDefaults) {
  PropertyBag bag;
  bag.add(L"num", L" 42 ");
  bag.add(L"word", L"hello");
  bag.add(L"off", L"off");
  bag.addInt64(L"big", 5000000000);
  bag.addBool(L"t", true);
  bag.addBag(L"inner", PropertyBag());

  EXPECT_EQ(bag.getInt(L"num"), 42);
  EXPECT_EQ(bag.getInt(L"word", 3), 3);  // no number: the default
  EXPECT_EQ(bag.getInt(L"big", 3), 3);   // outside 32 bits: the default
  EXPECT_EQ(bag.getInt64(L"big"), 5000000000);
  EXPECT_EQ(bag.getInt(L"t"), 1);
  EXPECT_EQ(bag.getInt(L"inner", 8), 8);
  EXPECT_FALSE(bag.getBool(L"off", true));
  EXPECT_TRUE(bag.getBool(L"num"));
  EXPECT_EQ(bag.get(L"big"), corestring(L"5000000000"));
  EXPECT_EQ(bag.get(L"t"), corestring(L"true"));
  EXPECT_EQ(bag.get(L"inner", L"dflt"), corestring(L"dflt"));
  EXPECT_EQ(bag.getBag(L"num").size(), 0u);
}

TEST(PropertyBag, GetNextBagWalksEveryNestedBagOfTheName) {
  PropertyBag request;
  for (int i = 0; i < 3; ++i) {
    PropertyBag metric;
    metric.addInt(L"n", i);
    request.addBag(L"statrixMetrics", metric, true);
    request.add(L"statrixMetrics", L"text, not a bag");
  }
  std::vector<int> seen;
  PropertyBag entry;
  for (size_t pos = request.getNextBag(L"statrixMetrics", entry, 0); pos != 0;
       pos = request.getNextBag(L"statrixMetrics", entry, pos))
    seen.push_back(entry.getInt(L"n"));
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(request.getNextBag(L"absent", entry, 0), 0u);
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
  replyCopy.clear();
  reply.setError(0);
  EXPECT_FALSE(replyCopy.hasError() || reply.hasError());
}

}  // namespace
