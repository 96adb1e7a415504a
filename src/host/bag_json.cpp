// Conversion between CORE::PropertyBag and its JSON form.
#include "bag_json.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace vhost {

namespace {

using Type = CORE::PropertyBag::Type;

const char* typeName(Type type) {
  switch (type) {
    case Type::String: return "str";
    case Type::Int32: return "i32";
    case Type::Int64: return "i64";
    case Type::Bool: return "bool";
    case Type::Bag: return "bag";
  }
  return "str";
}

bool typeFromName(const std::string& name, Type& out) {
  static const std::pair<const char*, Type> names[] = {
      {"str", Type::String}, {"i32", Type::Int32}, {"i64", Type::Int64}, {"bool", Type::Bool}, {"bag", Type::Bag}};
  for (const auto& [text, type] : names)
    if (name == text) {
      out = type;
      return true;
    }
  return false;
}

// Reads a JSON integer as int64; false for non-integers and unsigned values beyond int64.
bool asInt64(const Json& v, int64_t& out) {
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    out = static_cast<int64_t>(u);
    return true;
  }
  if (v.is_number_integer()) {
    out = v.get<int64_t>();
    return true;
  }
  return false;
}

bool fitsInt32(int64_t n) {
  return n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max();
}

// A name as error texts show it: long ones cut short.
std::string shortName(const std::string& name) {
  constexpr size_t kShown = 60;
  return name.size() <= kShown ? name : name.substr(0, kShown) + "...";
}

// One conversion: where it is (the path of entries down to the current one, turned into text
// only for an error, so deep nesting costs no copies per level) and how deep it has gone.
class Converter {
 public:
  explicit Converter(std::string& error) : error_(error) {}

  bool bag(const Json& json, CORE::PropertyBag& out) {
    if (depth_ >= kMaxBagDepth)
      return fail("bags are nested deeper than " + std::to_string(kMaxBagDepth) + " levels");
    ++depth_;
    bool ok = entries(json, out);
    --depth_;
    return ok;
  }

 private:
  // A step of the path; popped when the scope ends.
  class Step {
   public:
    Step(Converter& c, std::string text) : c_(c) { c_.path_.push_back(std::move(text)); }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;
    ~Step() { c_.path_.pop_back(); }

   private:
    Converter& c_;
  };

  bool fail(const std::string& text) {
    error_ = "bag";
    for (const std::string& step : path_) error_ += step;
    error_ += ": " + text;
    return false;
  }

  bool entries(const Json& json, CORE::PropertyBag& out) {
    if (json.is_object()) {
      for (const auto& [name, value] : json.items()) {
        Step step(*this, " member \"" + shortName(name) + "\"");
        if (!addValue(out, name, nullptr, value)) return false;
      }
      return true;
    }
    if (!json.is_array()) return fail("a bag must be an array of entries or an object, got " + brief(json));
    for (size_t i = 0; i < json.size(); ++i) {
      Step step(*this, " entry " + std::to_string(i + 1));
      if (!entry(json[i], out)) return false;
    }
    return true;
  }

  bool entry(const Json& entry, CORE::PropertyBag& out) {
    if (!entry.is_array() || entry.size() < 2 || entry.size() > 3)
      return fail("expected [name, type, value] or [name, value], got " + brief(entry));
    if (!entry[0].is_string()) return fail("the name must be a string, got " + brief(entry[0]));
    const std::string& name = entry[0].get_ref<const std::string&>();
    Step step(*this, " (\"" + shortName(name) + "\")");
    if (entry.size() == 2) return addValue(out, name, nullptr, entry[1]);
    Type type;
    if (!entry[1].is_string() || !typeFromName(entry[1].get_ref<const std::string&>(), type))
      return fail("unknown type " + brief(entry[1]) + " (str, i32, i64, bool or bag)");
    return addValue(out, name, &type, entry[2]);
  }

  // Adds one value under `name`, with `type` given or (when null) inferred from the value.
  bool addValue(CORE::PropertyBag& out, const std::string& name, const Type* type, const Json& value) {
    CORE::corestring key = CORE::corestring::fromUtf8(name);
    Type t;
    if (type != nullptr) {
      t = *type;
    } else if (value.is_string()) {
      t = Type::String;
    } else if (value.is_boolean()) {
      t = Type::Bool;
    } else if (value.is_array() || value.is_object()) {
      t = Type::Bag;
    } else if (value.is_number_integer()) {
      int64_t n = 0;
      t = asInt64(value, n) && fitsInt32(n) ? Type::Int32 : Type::Int64;
    } else {
      return fail("value " + brief(value) + " is not a string, integer, boolean or bag");
    }

    switch (t) {
      case Type::String:
        if (!value.is_string()) break;
        out.add(key, CORE::corestring::fromUtf8(value.get_ref<const std::string&>()));
        return true;
      case Type::Bool:
        if (!value.is_boolean()) break;
        out.addBool(key, value.get<bool>());
        return true;
      case Type::Int32: {
        int64_t n = 0;
        if (!asInt64(value, n) || !fitsInt32(n)) break;
        out.addInt(key, static_cast<int32_t>(n));
        return true;
      }
      case Type::Int64: {
        int64_t n = 0;
        if (!asInt64(value, n)) break;
        out.addInt64(key, n);
        return true;
      }
      case Type::Bag: {
        if (!value.is_array() && !value.is_object()) break;
        CORE::PropertyBag nested;
        if (!bag(value, nested)) return false;
        out.addBag(key, nested);
        return true;
      }
    }
    return fail("value " + brief(value) + " does not fit type \"" + typeName(t) + "\"");
  }

  std::string& error_;
  std::vector<std::string> path_;
  size_t depth_ = 0;
};

}  // namespace

Json bagToJson(const CORE::PropertyBag& bag) {
  Json entries = Json::array();
  for (size_t i = 0; i < bag.size(); ++i) {
    Type type = bag.typeAt(i);
    Json value;
    switch (type) {
      case Type::String: value = bag.stringAt(i).utf8(); break;
      case Type::Int32:
      case Type::Int64: value = bag.intAt(i); break;
      case Type::Bool: value = bag.boolAt(i); break;
      case Type::Bag: value = bagToJson(bag.bagAt(i)); break;
    }
    entries.push_back(Json::array({bag.getName(i).utf8(), typeName(type), std::move(value)}));
  }
  return entries;
}

bool jsonToBag(const Json& json, CORE::PropertyBag& out, std::string& error) {
  return Converter(error).bag(json, out);
}

}  // namespace vhost
