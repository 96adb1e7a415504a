// Reads statrix.dll's export table from the file itself: the host resolves exactly these names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "varnel/corestring.h"

namespace {

// Little-endian reads from the file image, failing the test rather than reading past the end.
struct Image {
  std::vector<unsigned char> bytes;
  template <class T>
  T at(size_t offset) const {
    T v{};
    if (offset + sizeof(T) > bytes.size()) throw std::out_of_range("read past the end of the image");
    std::memcpy(&v, bytes.data() + offset, sizeof(T));
    return v;
  }
};

struct Section {
  uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

std::optional<size_t> rvaToOffset(const std::vector<Section>& sections, uint32_t rva) {
  for (const Section& s : sections) {
    uint32_t span = std::max(s.virtualSize, s.rawSize);
    if (rva >= s.virtualAddress && rva < s.virtualAddress + span) return rva - s.virtualAddress + s.rawOffset;
  }
  return std::nullopt;
}

std::set<std::string> exportedNames(const Image& img) {
  const uint32_t pe = img.at<uint32_t>(0x3C);
  EXPECT_EQ(img.at<uint32_t>(pe), 0x00004550u);  // "PE\0\0"
  const uint16_t sectionCount = img.at<uint16_t>(pe + 6);
  const uint16_t optionalSize = img.at<uint16_t>(pe + 20);
  const size_t optional = pe + 24;
  EXPECT_EQ(img.at<uint16_t>(optional), 0x20B);  // PE32+: a 64-bit image
  const uint32_t exportRva = img.at<uint32_t>(optional + 112);
  std::vector<Section> sections;
  for (size_t i = 0, s = optional + optionalSize; i < sectionCount; ++i, s += 40)
    sections.push_back({img.at<uint32_t>(s + 12), img.at<uint32_t>(s + 8), img.at<uint32_t>(s + 20),
                        img.at<uint32_t>(s + 16)});
  std::set<std::string> names;
  auto dir = rvaToOffset(sections, exportRva);
  if (!exportRva || !dir) return names;
  const uint32_t nameCount = img.at<uint32_t>(*dir + 24);
  auto nameTable = rvaToOffset(sections, img.at<uint32_t>(*dir + 32));
  for (uint32_t i = 0; nameTable && i < nameCount; ++i) {
    auto name = rvaToOffset(sections, img.at<uint32_t>(*nameTable + 4 * i));
    if (!name) continue;
    std::string text;
    for (size_t p = *name; img.at<char>(p) != 0; ++p) text.push_back(img.at<char>(p));
    names.insert(text);
  }
  return names;
}

}  // namespace

TEST(PluginExports, ExactlyTheThreeEntryPointsUndecorated) {
  // The test program lives in <build>/tests, the module in <build>/bin.
  std::string self = CORE::corestring::getModuleName(nullptr).utf8();
  std::string dir = self.substr(0, self.find_last_of("\\/"));
  std::ifstream file(dir + "/../bin/statrix.dll", std::ios::binary);
  ASSERT_TRUE(file) << "statrix.dll not found beside the test tree";
  Image img{std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {})};
  EXPECT_EQ(exportedNames(img), (std::set<std::string>{"PluginExit", "PluginInit", "PluginParams"}));
}
