// Process services of the Linux layer: LoadLibraryW with the library-attach notification,
// GetProcAddress and GetModuleFileNameW (the module's own lookups in "ntdll.dll" and the runner's
// use of its program file run in every end-to-end test), system error texts from FormatMessageW,
// and environment variables set as the runner passes its options.
#include <gtest/gtest.h>

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

TEST(Modules, UnknownNamesAndHandlesFail) {
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("nosuchlibrary.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  int notAModule = 0;
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&notAModule), "GetTickCount"), nullptr);
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
  wchar_t small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(module, small, 5), 5u);  // cut, with the NUL in the last place
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::wstring(small), path.substr(0, 4));
  auto answer = as<int (*)()>(GetProcAddress(module, "attachFixtureAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);

  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(fixtureLog(), entry("attach", module));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(fixtureLog(), entry("attach", module) + entry("detach", module));
  EXPECT_EQ(GetModuleHandleW(L"attach_fixture.dll"), nullptr);
}

constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::wstring text(DWORD code, DWORD size = 256) {
  wchar_t buffer[256];
  DWORD n = FormatMessageW(kSystem, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, size, nullptr);
  return n ? std::wstring(buffer, n) : std::wstring();
}

TEST(ErrorText, KnownCodesHaveTheirTextsAndFailuresSetTheirOwnCodes) {
  EXPECT_EQ(text(87), L"The parameter is incorrect.\r\n");
  EXPECT_EQ(text(0x80070005u), L"Access is denied.\r\n") << "an HRESULT of a Win32 code";
  SetLastError(0);
  EXPECT_EQ(text(0x12345), L"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  EXPECT_EQ(text(6, 8), L"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Environment, ValuesAreSetAsUtf8AndRemovedByNull) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINAPI_TEST_VAR", L"Größe €"));
  EXPECT_STREQ(std::getenv("WINAPI_TEST_VAR"), "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC");
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINAPI_TEST_VAR", nullptr));
  EXPECT_EQ(std::getenv("WINAPI_TEST_VAR"), nullptr);
  EXPECT_FALSE(SetEnvironmentVariableW(L"A=B", L"x"));
}

}  // namespace
