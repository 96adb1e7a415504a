// Locale-free case folding, so that case-insensitive names compare alike on Linux and Windows.
#include "casefold.h"

namespace CORE {

wchar_t foldCase(wchar_t c) {
  const auto u = static_cast<unsigned long>(c);
  if (u < 0x80) return (u >= 'A' && u <= 'Z') ? static_cast<wchar_t>(u + 0x20) : c;
  // Latin-1 capitals À..Þ, except the multiplication sign.
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<wchar_t>(u + 0x20);
  if (u >= 0x100 && u <= 0x17F) {
    if (u == 0x130 || u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F) return c;  // no simple pair
    if (u == 0x178) return static_cast<wchar_t>(0xFF);                                  // Ÿ -> ÿ
    // Latin Extended-A pairs capital and small letter: even/odd up to U+0137 and from U+014A
    // to U+0177, odd/even in U+0139..U+0148 and U+0179..U+017E.
    const bool oddCapital = (u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E);
    const bool isCapital = oddCapital ? (u % 2 == 1) : (u % 2 == 0);
    return isCapital ? static_cast<wchar_t>(u + 1) : c;
  }
  if (u >= 0x391 && u <= 0x3A9 && u != 0x3A2) return static_cast<wchar_t>(u + 0x20);  // Greek
  if (u >= 0x410 && u <= 0x42F) return static_cast<wchar_t>(u + 0x20);                // Cyrillic А..Я
  if (u >= 0x400 && u <= 0x40F) return static_cast<wchar_t>(u + 0x50);                // Ѐ..Џ
  return c;
}

}  // namespace CORE
