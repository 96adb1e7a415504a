// With "varnelUseThreadNames" set to "0", module threads carry no name record.
#include <gtest/gtest.h>

#include "cpumem_watch_env.h"
#include "frame/runnable.h"
#include "frame/thread_group.h"
#include "frame/thread_name.h"

namespace {

const wchar_t* const kSwitch = L"HKLM\\Software\\Vantrel\\Orvane\\varnelUseThreadNames";

void probe(void* seen) { *static_cast<const uint8_t**>(seen) = CORE::currentThreadNameRecord(); }

TEST(ThreadNamesOff, NoThreadGetsARecord) {
  watch_test::temporaryRegistry();
  const auto previous = CORE::registryRead(kSwitch);
  ASSERT_TRUE(CORE::registryWrite(kSwitch, {1, L"0", {}}));

  const uint8_t* seen = reinterpret_cast<const uint8_t*>(1);
  ASSERT_TRUE(CORE::corerun::startThread("named", &probe, &seen, CORE::corerun::noWrapper(), nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(seen, nullptr);

  // Read once per process: putting the old value back changes nothing here.
  CORE::registryWrite(kSwitch, {1, previous ? previous->text : CORE::corestring(L"1"), {}});
  EXPECT_FALSE(CORE::useThreadNames());
}

}  // namespace
