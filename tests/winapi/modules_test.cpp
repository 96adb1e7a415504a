// Modules of the Linux layer: system library names answered by the layer, LoadLibraryW with the
// library-attach notification, GetProcAddress and GetModuleFileNameW.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "winapi.h"

namespace {

// FARPROC to the function's real type, through the generic function pointer type.
template <class F>
F as(FARPROC proc) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring fileNameOf(HMODULE module) {
  wchar_t buffer[PATH_MAX];
  DWORD n = GetModuleFileNameW(module, buffer, PATH_MAX);
  return std::wstring(buffer, n);
}

// What the fixture's DllMain reported so far.
std::string fixtureLog() {
  const char* log = std::getenv("ATTACH_FIXTURE_LOG");
  return log ? log : "";
}

std::string entry(const char* what, HMODULE module) {
  char text[64];
  std::snprintf(text, sizeof text, "%s@%p;", what, static_cast<void*>(module));
  return text;
}

TEST(Modules, SystemLibraryNamesAnswerWithTheLayersFunctions) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  ASSERT_NE(ntdll, nullptr);
  EXPECT_EQ(GetModuleHandleA("KERNEL32.DLL"), ntdll);
  EXPECT_EQ(GetModuleHandleA("advapi32"), ntdll) << "a name without extension means .dll";
  auto tickCount = as<DWORD (*)()>(GetProcAddress(ntdll, "GetTickCount"));
  ASSERT_NE(tickCount, nullptr);
  EXPECT_LE(tickCount() - GetTickCount(), 5u);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(ntdll, "NoSuchFunctionAnywhere"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_NE(fileNameOf(ntdll).find(L"/libvarnel.so"), std::wstring::npos);
}

TEST(Modules, ProgramFileIsTheRealExecutableAndShortBuffersTruncate) {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  ASSERT_GT(n, 0);
  EXPECT_EQ(fileNameOf(nullptr), widen(std::string(exe, static_cast<size_t>(n))));
  EXPECT_EQ(fileNameOf(GetModuleHandleW(nullptr)), fileNameOf(nullptr));
  wchar_t small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::wstring(small), fileNameOf(nullptr).substr(0, 4));
}

TEST(Modules, UnknownNamesHandlesAndFilesFail) {
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("nosuchlibrary.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  int notAModule = 0;
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&notAModule), "GetTickCount"), nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(L"/nonexistent/dir/statrix-missing.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, AttachRunsOnFirstLoadAndDetachOnLastFree) {
  unsetenv("ATTACH_FIXTURE_LOG");
  const std::wstring path = widen(ATTACH_FIXTURE_PATH);
  HMODULE module = LoadLibraryW(path.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(fixtureLog(), entry("attach", module)) << "DllMain gets the HMODULE LoadLibraryW returns";
  EXPECT_EQ(LoadLibraryW(path.c_str()), module);
  EXPECT_EQ(fixtureLog(), entry("attach", module)) << "a second load does not attach again";

  EXPECT_EQ(GetModuleHandleW(L"attach_fixture.dll"), module);
  EXPECT_EQ(GetModuleHandleW(L"ATTACH_FIXTURE.SO"), module);
  EXPECT_EQ(fileNameOf(module), path);
  auto answer = as<int (*)()>(GetProcAddress(module, "attachFixtureAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);

  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(fixtureLog(), entry("attach", module));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(fixtureLog(), entry("attach", module) + entry("detach", module));
  EXPECT_EQ(GetModuleHandleW(L"attach_fixture.dll"), nullptr);
}

TEST(Modules, RefusedAttachUnloadsAndFails) {
  setenv("ATTACH_FIXTURE_FAIL", "1", 1);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(widen(ATTACH_FIXTURE_PATH).c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_EQ(GetModuleHandleW(L"attach_fixture.dll"), nullptr);
  unsetenv("ATTACH_FIXTURE_FAIL");
}

}  // namespace
