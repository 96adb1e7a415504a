// With "varnelUseThreadNames" set to "0", module threads carry no name record.
#include <gtest/gtest.h>

#include <optional>

#include "frame/runnable.h"
#include "frame/thread_group.h"
#include "frame/thread_name.h"
#include "frame_test_env.h"

namespace {

const wchar_t* const kSwitch = L"HKLM\\Software\\Vantrel\\Orvane\\varnelUseThreadNames";

void probe(void* seen) { *static_cast<const uint8_t**>(seen) = CORE::currentThreadNameRecord(); }

TEST(ThreadNamesOff, NoThreadGetsARecord) {
  frame_test::useTemporaryRegistry();
  const std::optional<CORE::RegistryValue> previous = CORE::registryRead(kSwitch);
  CORE::RegistryValue off;
  off.type = 1;
  off.text = L"0";
  ASSERT_TRUE(CORE::registryWrite(kSwitch, off));

  EXPECT_FALSE(CORE::useThreadNames());
  const uint8_t* seen = reinterpret_cast<const uint8_t*>(1);
  ASSERT_TRUE(CORE::corerun::startThread("named", &probe, &seen, CORE::corerun::noWrapper(), nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(seen, nullptr);

  // Names are off for this process only: the value is read once.
  CORE::RegistryValue restore;
  restore.type = 1;
  restore.text = previous ? previous->text : CORE::corestring(L"1");
  CORE::registryWrite(kSwitch, restore);
  EXPECT_FALSE(CORE::useThreadNames());
}

}  // namespace
