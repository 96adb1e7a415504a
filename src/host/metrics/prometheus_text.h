// Writer of the Prometheus text exposition format 0.0.4: families with HELP and TYPE lines,
// samples with escaped label values.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

namespace vhost::prom {

inline constexpr char kContentType[] = "text/plain; version=0.0.4; charset=utf-8";

enum class Type { Gauge, Counter, Histogram };

struct Label {
  std::string_view name;
  std::string_view value;
};

// Label values: backslash, double quote and line feed become \\, \" and \n.
std::string escapeLabelValue(std::string_view value);
// HELP texts: backslash and line feed become \\ and \n.
std::string escapeHelp(std::string_view text);
// Whole numbers without exponent where they are exact; NaN, +Inf and -Inf by name; otherwise
// the shortest text that reads back as the same double.
std::string formatValue(double value);

class TextWriter {
 public:
  // Starts a family: its "# HELP" and "# TYPE" lines. Samples of the family follow.
  void family(std::string_view name, std::string_view help, Type type);
  void sample(std::string_view name, std::initializer_list<Label> labels, double value);
  void sample(std::string_view name, double value) { sample(name, {}, value); }

  const std::string& text() const { return out_; }

 private:
  std::string out_;
};

}  // namespace vhost::prom
