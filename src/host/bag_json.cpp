// Conversion between CORE::PropertyBag and its JSON form.
#include "bag_json.h"

#include <cstdint>
#include <limits>

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

bool convertBag(const Json& json, CORE::PropertyBag& out, const std::string& where, std::string& error);

// Adds one value under `name`, with `type` given or (when null) inferred from the value.
bool addValue(CORE::PropertyBag& out, const std::string& name, const Type* type, const Json& value,
              const std::string& where, std::string& error) {
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
    error = where + ": value " + dumpLine(value) + " is not a string, integer, boolean or bag";
    return false;
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
      if (!convertBag(value, nested, where, error)) return false;
      out.addBag(key, nested);
      return true;
    }
  }
  error = where + ": value " + dumpLine(value) + " does not fit type \"" + typeName(t) + "\"";
  return false;
}

bool convertEntry(const Json& entry, CORE::PropertyBag& out, const std::string& where, std::string& error) {
  if (!entry.is_array() || entry.size() < 2 || entry.size() > 3) {
    error = where + ": expected [name, type, value] or [name, value], got " + dumpLine(entry);
    return false;
  }
  if (!entry[0].is_string()) {
    error = where + ": the name must be a string, got " + dumpLine(entry[0]);
    return false;
  }
  const std::string& name = entry[0].get_ref<const std::string&>();
  const std::string named = where + " (\"" + name + "\")";
  if (entry.size() == 2) return addValue(out, name, nullptr, entry[1], named, error);
  Type type;
  if (!entry[1].is_string() || !typeFromName(entry[1].get<std::string>(), type)) {
    error = named + ": unknown type " + dumpLine(entry[1]) + " (str, i32, i64, bool or bag)";
    return false;
  }
  return addValue(out, name, &type, entry[2], named, error);
}

bool convertBag(const Json& json, CORE::PropertyBag& out, const std::string& where, std::string& error) {
  if (json.is_object()) {
    for (const auto& [name, value] : json.items())
      if (!addValue(out, name, nullptr, value, where + " member \"" + name + "\"", error)) return false;
    return true;
  }
  if (!json.is_array()) {
    error = where + ": a bag must be an array of entries or an object, got " + dumpLine(json);
    return false;
  }
  for (size_t i = 0; i < json.size(); ++i)
    if (!convertEntry(json[i], out, where + " entry " + std::to_string(i + 1), error)) return false;
  return true;
}

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
  return convertBag(json, out, "bag", error);
}

}  // namespace vhost
