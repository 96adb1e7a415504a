// Command-line parsing of varnel-host (with --metrics-listen's ADDR:PORT), the values derived
// from --param and --set, and loading the plug-in (its default place beside the program, the
// reason a load fails).
#include "options.h"

#include <gtest/gtest.h>

#include "plugin_loader.h"

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

TEST(Options, EveryOptionInBothSpellings) {
  Options o = parse({"--plugin", "/x/statrix.so", "--registry=/r", "--procfs", "/p", "--utmp=/u", "--param", "A=1",
                     "--param=B=x=y", "--set", "OverallCpuPercentage=90", "--helpdesk", "--seconds", "5",
                     "--manual-timers", "--trace-threads", "--level=3", "--metrics-listen=[::1]:80",
                     "--web-config", "/etc/statrix/web.yml"});
  EXPECT_EQ(o.plugin, "/x/statrix.so");
  EXPECT_EQ(o.registry, "/r");
  EXPECT_EQ(o.procfs, "/p");
  EXPECT_EQ(o.utmp, "/u");
  ASSERT_EQ(o.params.size(), 2u);
  EXPECT_EQ(o.params[1].name, "B");
  EXPECT_EQ(o.params[1].value, "x=y");  // split at the first "=" only
  ASSERT_EQ(o.settings.size(), 1u);
  EXPECT_EQ(o.settings[0].name, "OverallCpuPercentage");
  EXPECT_TRUE(o.helpdesk && o.manualTimers && o.traceThreads);
  EXPECT_EQ(o.seconds, 5u);
  EXPECT_EQ(o.level, 3);
  EXPECT_EQ(o.metricsListen->host, "::1");
  EXPECT_EQ(o.webConfig, "/etc/statrix/web.yml");
  EXPECT_FALSE(o.json || o.script || o.help);

  EXPECT_TRUE(parse({"--script", "-"}).json);  // implied
  EXPECT_EQ(parse({"--level", "-1"}).level, -1);
  EXPECT_EQ(parse({"--plugin", "a", "--plugin", "b"}).plugin, "b");  // the last one counts
  EXPECT_EQ(parse({"--plugin", "--json"}).plugin, "--json");         // a value that looks like an option
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
  EXPECT_EQ(failure({"--metrics-listen", "9464"}), "option --metrics-listen needs ADDR:PORT, got \"9464\"");
}

TEST(ListenAddress, GoodAndBadForms) {
  ListenAddress a;
  std::string error;
  ASSERT_TRUE(parseListenAddress("[::1]:65535", a, error)) << error;
  EXPECT_EQ(a.host, "::1");
  EXPECT_EQ(a.port, 65535);
  for (const char* bad : {"9464", ":9464", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:94x",
                          "::1:9464", "[::1:9464", "[]:9464", "127.0.0.1:+80"}) {
    EXPECT_FALSE(parseListenAddress(bad, a, error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

TEST(Options, ParamBagInfersTypesAndKeepsOrder) {
  using Type = CORE::PropertyBag::Type;
  const std::pair<const char*, Type> cases[] = {
      {"1000", Type::Int32}, {"-7", Type::Int32},    {"5000000000", Type::Int64},
      {"true", Type::Bool},  {"True", Type::String}, {"+7", Type::String},
      {"12ms", Type::String}, {"9223372036854775808", Type::String}, {"h\xC3\xA9llo", Type::String},
  };
  std::vector<NameValue> params;
  for (const auto& [text, type] : cases) params.push_back({"P", text});
  CORE::PropertyBag bag = paramBag(params);
  ASSERT_EQ(bag.size(), std::size(cases));  // repeated names are kept
  for (size_t i = 0; i < bag.size(); ++i) EXPECT_EQ(bag.typeAt(i), cases[i].second) << cases[i].first;
  EXPECT_EQ(bag.intAt(0), 1000);
  EXPECT_EQ(bag.intAt(2), 5000000000);
  EXPECT_TRUE(bag.boolAt(3));
  EXPECT_EQ(bag.stringAt(8).str(), L"h\u00e9llo");
}

TEST(Options, SettingValues) {
  for (const char* dword : {"90", "4294967295"}) EXPECT_EQ(settingValue(dword).type, 4u) << dword;
  for (const char* text : {"4294967296", "-1", "+1", "1.5", "", "notepad.exe;svchost.exe"}) {
    CORE::RegistryValue sz = settingValue(text);
    EXPECT_EQ(sz.type, 1u) << text;
    EXPECT_EQ(sz.text.utf8(), text);
  }
}

TEST(PluginLoader, DefaultPluginSitsBesideTheProgram) {
  EXPECT_EQ(besideProgram(L"C:\\Program Files\\host\\varnel-host.exe", L"statrix.dll"),
            L"C:\\Program Files\\host\\statrix.dll");
  EXPECT_EQ(besideProgram(L"/opt/build/bin/varnel-host", L"statrix.so"), L"/opt/build/bin/statrix.so");
  EXPECT_EQ(besideProgram(L"Z:/mixed\\dir/varnel-host.exe", L"statrix.dll"), L"Z:/mixed\\dir/statrix.dll");
  EXPECT_EQ(besideProgram(L"varnel-host", L"statrix.so"), L"statrix.so");
}

// Also run under Wine: the system's error texts may end in a line break, the reason may not.
TEST(PluginLoader, MissingLibraryGivesOneLineReason) {
  PluginModule module;
  std::string error;
  EXPECT_FALSE(module.load(L"no-such-dir/statrix-missing.dll", error));
  EXPECT_TRUE(error.starts_with("cannot load plug-in no-such-dir/statrix-missing.dll: ")) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  EXPECT_NE(error.find("(error "), std::string::npos) << error;
}

}  // namespace
}  // namespace vhost
