// Reads statrix.dll's export table from the mapped module: the host resolves exactly these names.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "varnel/corestring.h"
#include "winapi.h"

TEST(PluginExports, ExactlyTheThreeEntryPointsUndecorated) {
  // The test program lives in <build>/tests, the module in <build>/bin. It is mapped as an image
  // without running its start-up code or loading what it imports.
  const std::wstring self = CORE::corestring::getModuleName(nullptr).str();
  const std::wstring path = self.substr(0, self.find_last_of(L"\\/")) + L"/../bin/statrix.dll";
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(module, nullptr) << "statrix.dll not found beside the test tree, error " << GetLastError();
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  EXPECT_EQ(nt->Signature, static_cast<DWORD>(IMAGE_NT_SIGNATURE));
  ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);  // PE32+: a 64-bit image
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(directory.VirtualAddress, 0u) << "no export table";
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::set<std::string> names;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
  EXPECT_EQ(names, (std::set<std::string>{"PluginExit", "PluginInit", "PluginParams"}));
  FreeLibrary(module);
}
