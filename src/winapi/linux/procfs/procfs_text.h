// Line and field scanning shared by the procfs parsers; numbers count only when complete.
#pragma once
#include <charconv>
#include <cstddef>
#include <optional>
#include <string_view>

namespace winapi_linux::procfs {

inline bool isFieldSeparator(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The whole of `text` as a number of type T: no sign for unsigned types, no blanks, no
// overflow (std::from_chars rejects all three).
template <class T>
std::optional<T> parseNumber(std::string_view text) {
  T value{};
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || p != end) return std::nullopt;
  return value;
}

// Splits text into lines. Each line keeps its '\n', so that a field scanner can tell a
// number that ends at its line from one cut off by the end of a truncated text.
class LineSplitter {
 public:
  explicit LineSplitter(std::string_view text) : text_(text) {}
  bool next(std::string_view& line) {
    if (text_.empty()) return false;
    size_t nl = text_.find('\n');
    size_t len = nl == std::string_view::npos ? text_.size() : nl + 1;
    line = text_.substr(0, len);
    text_.remove_prefix(len);
    return true;
  }

 private:
  std::string_view text_;
};

// Reads the blank-separated fields of one line. A field is handed out only when a separator
// follows it: "12" at the very end of a cut-off text may have been "1234".
class FieldScanner {
 public:
  explicit FieldScanner(std::string_view line) : text_(line) {}

  std::optional<std::string_view> field() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    size_t start = pos_;
    while (pos_ < text_.size() && !isFieldSeparator(text_[pos_])) ++pos_;
    if (pos_ == start || pos_ == text_.size()) return std::nullopt;  // line over, or unterminated
    return text_.substr(start, pos_ - start);
  }

  template <class T>
  std::optional<T> number() {
    auto f = field();
    return f ? parseNumber<T>(*f) : std::nullopt;
  }

  // What is left of the line, without surrounding blanks and the line end.
  std::string_view rest() const {
    std::string_view r = text_.substr(pos_);
    while (!r.empty() && isFieldSeparator(r.front())) r.remove_prefix(1);
    while (!r.empty() && isFieldSeparator(r.back())) r.remove_suffix(1);
    return r;
  }

  // Skips n fields; false when fewer remain.
  bool skip(int n) {
    for (int i = 0; i < n; ++i)
      if (!field()) return false;
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace winapi_linux::procfs
