// Finding and loading the plug-in: its default place and the reason a load fails.
#include "plugin_loader.h"

#include <gtest/gtest.h>

#include "json.h"

namespace vhost {
namespace {

TEST(PluginLoader, DefaultPluginSitsBesideTheProgram) {
  EXPECT_EQ(besideProgram(L"C:\\Program Files\\host\\varnel-host.exe", L"statrix.dll"),
            L"C:\\Program Files\\host\\statrix.dll");
  EXPECT_EQ(besideProgram(L"/opt/build/bin/varnel-host", L"statrix.so"), L"/opt/build/bin/statrix.so");
  EXPECT_EQ(besideProgram(L"Z:/mixed\\dir/varnel-host.exe", L"statrix.dll"), L"Z:/mixed\\dir/statrix.dll");
  EXPECT_EQ(besideProgram(L"varnel-host", L"statrix.so"), L"statrix.so");
}

TEST(PluginLoader, DefaultPathsBesideTheProgramThenInItsInstalledLibDir) {
  std::vector<std::wstring> paths = defaultPluginPaths();
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_TRUE(paths[0].ends_with(STATRIX_PLUGIN_FILE)) << utf8(paths[0]);
  EXPECT_GT(paths[0].size(), std::wstring_view(STATRIX_PLUGIN_FILE).size());
  std::wstring dir = paths[0].substr(0, paths[0].size() - std::wstring_view(STATRIX_PLUGIN_FILE).size());
  EXPECT_EQ(paths[1], dir + L"../lib/statrix/" + STATRIX_PLUGIN_FILE);
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
