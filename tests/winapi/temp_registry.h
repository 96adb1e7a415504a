// Test fixture: a fresh, empty registry root per test (VARNEL_REGISTRY), removed afterwards, with
// helpers to create keys and to read and write value files directly.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/linux/scratch_dir.h"
#include "winapi.h"

class TempRegistry : public ::testing::Test {
 protected:
  TempRegistry() { setenv("VARNEL_REGISTRY", root_.path().c_str(), 1); }  // read by the layer at each call

  // "HKLM/Software/X" relative to the root.
  std::string file(const std::string& relative) const { return root_.path() + "/" + relative; }

  std::string readFile(const std::string& relative) const { return statrix_test::readFile(file(relative)); }

  // Creates the keys on the way.
  void writeFile(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(file(relative)).parent_path());
    root_.write(relative, content);
  }

  HKEY createKey(const wchar_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }

  statrix_test::ScratchDir root_;
};
