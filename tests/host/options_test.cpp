// Command-line parsing of varnel-host and the values derived from --param and --set.
#include "options.h"

#include <gtest/gtest.h>

namespace vhost {
namespace {

Options parse(std::vector<std::string> args) {
  Options o;
  std::string error;
  EXPECT_TRUE(parseOptions(args, o, error)) << error;
  return o;
}

std::string failure(std::vector<std::string> args) {
  Options o;
  std::string error;
  EXPECT_FALSE(parseOptions(args, o, error));
  return error;
}

TEST(Options, MetricsListenOnlyWhenAskedAndOnlyAValidAddress) {
  EXPECT_FALSE(parse({}).metricsListen.has_value());
  Options o = parse({"--metrics-listen", "127.0.0.1:9464"});
  ASSERT_TRUE(o.metricsListen.has_value());
  EXPECT_EQ(o.metricsListen->host, "127.0.0.1");
  EXPECT_EQ(o.metricsListen->port, 9464);
  EXPECT_EQ(parse({"--metrics-listen=[::1]:80"}).metricsListen->host, "::1");
  EXPECT_EQ(failure({"--metrics-listen", "9464"}), "option --metrics-listen needs ADDR:PORT, got \"9464\"");
}

TEST(Options, EveryOptionInBothSpellings) {
  Options o = parse({"--plugin", "/x/statrix.so", "--registry=/r", "--procfs", "/p", "--utmp=/u", "--param", "A=1", "--param=B=x=y",
                     "--set", "OverallCpuPercentage=90", "--helpdesk", "--seconds", "5", "--manual-timers",
                     "--trace-threads", "--level=3"});
  EXPECT_EQ(o.plugin, "/x/statrix.so");
  EXPECT_EQ(o.registry, "/r");
  EXPECT_EQ(o.procfs, "/p");
  EXPECT_EQ(o.utmp, "/u");
  ASSERT_EQ(o.params.size(), 2u);
  EXPECT_EQ(o.params[0].name, "A");
  EXPECT_EQ(o.params[0].value, "1");
  EXPECT_EQ(o.params[1].name, "B");
  EXPECT_EQ(o.params[1].value, "x=y");  // split at the first "=" only
  ASSERT_EQ(o.settings.size(), 1u);
  EXPECT_EQ(o.settings[0].name, "OverallCpuPercentage");
  EXPECT_TRUE(o.helpdesk);
  EXPECT_EQ(o.seconds, 5u);
  EXPECT_TRUE(o.manualTimers);
  EXPECT_TRUE(o.traceThreads);
  EXPECT_EQ(o.level, 3);
  EXPECT_FALSE(o.json);
  EXPECT_FALSE(o.script);
  EXPECT_FALSE(o.help);
}

TEST(Options, DefaultsAndImpliedJson) {
  Options none = parse({});
  EXPECT_FALSE(none.plugin || none.registry || none.procfs || none.seconds || none.level || none.script);
  EXPECT_FALSE(none.json || none.helpdesk || none.manualTimers || none.traceThreads);

  Options script = parse({"--script", "-"});
  EXPECT_EQ(script.script, "-");
  EXPECT_TRUE(script.json);
  EXPECT_EQ(parse({"--level", "-1"}).level, -1);
  EXPECT_EQ(parse({"--plugin", "a", "--plugin", "b"}).plugin, "b");  // the last one counts
}

TEST(Options, BadCommandLines) {
  EXPECT_EQ(failure({"--frobnicate"}), "unknown option --frobnicate");
  EXPECT_EQ(failure({"statrix.so"}), "unexpected argument \"statrix.so\"");
  EXPECT_EQ(failure({"--plugin"}), "option --plugin needs a value");
  EXPECT_EQ(failure({"--json=yes"}), "option --json takes no value");
  EXPECT_EQ(failure({"--param", "novalue"}), "option --param needs NAME=VALUE, got \"novalue\"");
  EXPECT_EQ(failure({"--set", "=5"}), "option --set needs NAME=VALUE, got \"=5\"");
  EXPECT_EQ(failure({"--seconds", "-1"}), "option --seconds needs a whole number of seconds, got \"-1\"");
  EXPECT_EQ(failure({"--level", ""}), "option --level needs an integer, got \"\"");
  // A value that looks like an option is still the value.
  EXPECT_EQ(parse({"--plugin", "--json"}).plugin, "--json");
}

TEST(Options, ParamInference) {
  EXPECT_EQ(inferParam("true"), ParamValue(true));
  EXPECT_EQ(inferParam("false"), ParamValue(false));
  EXPECT_EQ(inferParam("True"), ParamValue(std::string("True")));
  EXPECT_EQ(inferParam("42"), ParamValue(int64_t{42}));
  EXPECT_EQ(inferParam("-7"), ParamValue(int64_t{-7}));
  EXPECT_EQ(inferParam("+7"), ParamValue(std::string("+7")));
  EXPECT_EQ(inferParam("9223372036854775808"), ParamValue(std::string("9223372036854775808")));
  EXPECT_EQ(inferParam("12ms"), ParamValue(std::string("12ms")));
}

TEST(Options, ParamBagTypesAndOrder) {
  using Type = CORE::PropertyBag::Type;
  CORE::PropertyBag bag = paramBag({{"PulseTimerDelay", "1000"},
                                    {"Big", "5000000000"},
                                    {"PulseTimerLogAll", "true"},
                                    {"Name", "h\xC3\xA9llo"},
                                    {"PulseTimerDelay", "2"}});
  ASSERT_EQ(bag.size(), 5u);
  EXPECT_EQ(bag.typeAt(0), Type::Int32);
  EXPECT_EQ(bag.intAt(0), 1000);
  EXPECT_EQ(bag.typeAt(1), Type::Int64);
  EXPECT_EQ(bag.intAt(1), 5000000000);
  EXPECT_EQ(bag.typeAt(2), Type::Bool);
  EXPECT_TRUE(bag.boolAt(2));
  EXPECT_EQ(bag.typeAt(3), Type::String);
  EXPECT_EQ(bag.stringAt(3).str(), L"h\u00e9llo");
  EXPECT_EQ(bag.getName(4).str(), L"PulseTimerDelay");  // repeated names are kept
}

TEST(Options, SettingValues) {
  CORE::RegistryValue dword = settingValue("90");
  EXPECT_EQ(dword.type, 4u);
  EXPECT_EQ(dword.text.str(), L"90");
  EXPECT_EQ(settingValue("4294967295").type, 4u);
  for (const char* text : {"4294967296", "-1", "+1", "1.5", "", "notepad.exe;svchost.exe"}) {
    CORE::RegistryValue sz = settingValue(text);
    EXPECT_EQ(sz.type, 1u) << text;
    EXPECT_EQ(sz.text.utf8(), text);
  }
}

}  // namespace
}  // namespace vhost
