// Encoding of registry names as file names and case-insensitive name comparison.
#include "advapi32/registry_names.h"

#include <locale.h>
#include <wctype.h>

#include <cctype>

namespace winapi_linux::registry_names {
namespace {

constexpr std::string_view kDefaultValueName = "%00";

// The escape at text[i], if any: its decoded character (0 for "%00").
bool escapeAt(std::string_view text, size_t i, char& decoded) {
  if (i + 3 > text.size() || text[i] != '%') return false;
  char a = text[i + 1];
  char b = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 2])));
  if (a == '2' && b == 'F') decoded = '/';
  else if (a == '2' && b == '5') decoded = '%';
  else if (a == '2' && b == 'E') decoded = '.';
  else if (a == '0' && b == '0') decoded = '\0';
  else return false;
  return true;
}

locale_t unicodeLocale() {
  // Created once, kept for the life of the process; null falls back to ASCII rules.
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

wchar_t upper(wchar_t c) {
  if (c < 0x80) return static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - 32 : c);
  locale_t locale = unicodeLocale();
  return locale ? static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale)) : c;
}

}  // namespace

std::string encode(std::string_view name) {
  if (name.empty()) return std::string(kDefaultValueName);
  std::string out;
  out.reserve(name.size() + 4);
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    char ignored;
    if (c == '/') out += "%2F";
    else if (c == '.' && i == 0) out += "%2E";
    else if (c == '%' && escapeAt(name, i, ignored)) out += "%25";
    else out += c;
  }
  return out;
}

std::string decode(std::string_view fileName) {
  if (fileName == kDefaultValueName) return std::string();
  std::string out;
  out.reserve(fileName.size());
  for (size_t i = 0; i < fileName.size();) {
    char decoded;
    // "%00" means the empty name only as a whole; inside a name it stays as it is.
    if (escapeAt(fileName, i, decoded) && decoded != '\0') {
      out += decoded;
      i += 3;
    } else {
      out += fileName[i++];
    }
  }
  return out;
}

bool isHidden(std::string_view fileName) { return fileName.empty() || fileName[0] == '.'; }

bool sameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && upper(a[i]) != upper(b[i])) return false;
  return true;
}

std::wstring upperCase(std::wstring_view name) {
  std::wstring out(name);
  for (wchar_t& c : out) c = upper(c);
  return out;
}

}  // namespace winapi_linux::registry_names
