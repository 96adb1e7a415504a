// The Prometheus text exposition format 0.0.4.
#include "metrics/prometheus_text.h"

#include <charconv>
#include <cmath>

namespace vhost::prom {

namespace {

std::string escape(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '"' && quotes) out += "\\\"";
    else out += c;
  }
  return out;
}

const char* typeName(Type type) {
  switch (type) {
    case Type::Gauge: return "gauge";
    case Type::Counter: return "counter";
    case Type::Histogram: return "histogram";
  }
  return "untyped";
}

}  // namespace

std::string escapeLabelValue(std::string_view value) { return escape(value, true); }
std::string escapeHelp(std::string_view text) { return escape(text, false); }

std::string formatValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  // Below 2^53 every whole double is exact: print it as an integer, never as 1e+15.
  if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0)
    return std::to_string(static_cast<long long>(value));
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : "NaN";
}

void TextWriter::family(std::string_view name, std::string_view help, Type type) {
  out_.append("# HELP ").append(name).append(" ").append(escapeHelp(help)).append("\n");
  out_.append("# TYPE ").append(name).append(" ").append(typeName(type)).append("\n");
}

void TextWriter::sample(std::string_view name, std::initializer_list<Label> labels, double value) {
  out_.append(name);
  if (labels.size() > 0) {
    out_ += '{';
    bool first = true;
    for (const Label& label : labels) {
      if (!first) out_ += ',';
      first = false;
      out_.append(label.name).append("=\"").append(escapeLabelValue(label.value)).append("\"");
    }
    out_ += '}';
  }
  out_.append(" ").append(formatValue(value)).append("\n");
}

}  // namespace vhost::prom
