// CORE::PropertyBag: ordered entries of typed values with case-insensitive name lookup.
//
// Names are stored as given and compared ignoring case (the framework's keys are fixed
// spellings, and the host's own bags are looked up that way), so "Cpu" finds "CPU".
#include "varnel/propertybag.h"

#include <limits>
#include <optional>
#include <variant>

#include "number_text.h"

namespace CORE {

struct PropertyBag::Entry {
  corestring name;
  // Index order matches PropertyBag::Type.
  std::variant<corestring, int32_t, int64_t, bool, PropertyBag> value;

  Type type() const { return static_cast<Type>(value.index()); }
};

namespace {

bool sameName(const corestring& a, const corestring& b) { return a.comparei(b) == 0; }

// Integer value of a scalar: numbers as they are, booleans 1/0, numeric text (blanks allowed
// around it); nothing for other text and for bags.
template <class V>
std::optional<int64_t> integerOf(const V& value) {
  if (auto* s = std::get_if<corestring>(&value)) return parseInteger(s->str(), false);
  if (auto* i = std::get_if<int32_t>(&value)) return *i;
  if (auto* l = std::get_if<int64_t>(&value)) return *l;
  if (auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  return std::nullopt;
}

// Truth of a scalar: booleans, non-zero numbers, and the words true/yes/on or false/no/off
// (any case) or numeric text; nothing for other text and for bags.
template <class V>
std::optional<bool> boolOf(const V& value) {
  if (auto* b = std::get_if<bool>(&value)) return *b;
  if (auto* s = std::get_if<corestring>(&value)) {
    const corestring t = s->trim();
    for (const wchar_t* word : {L"true", L"yes", L"on"})
      if (t.comparei(word) == 0) return true;
    for (const wchar_t* word : {L"false", L"no", L"off"})
      if (t.comparei(word) == 0) return false;
  }
  if (auto n = integerOf(value)) return *n != 0;
  return std::nullopt;
}

// Text of a scalar: strings as they are, numbers in decimal, booleans "true"/"false".
template <class V>
std::optional<corestring> textOf(const V& value) {
  if (auto* s = std::get_if<corestring>(&value)) return *s;
  if (auto* i = std::get_if<int32_t>(&value)) return corestring(*i, 10);
  if (auto* l = std::get_if<int64_t>(&value)) return corestring(*l, 10);
  if (auto* b = std::get_if<bool>(&value)) return corestring(*b ? L"true" : L"false");
  return std::nullopt;
}

}  // namespace

PropertyBag::PropertyBag() = default;
PropertyBag::PropertyBag(const PropertyBag& other) = default;
PropertyBag::PropertyBag(PropertyBag&& other) noexcept = default;
PropertyBag& PropertyBag::operator=(const PropertyBag& other) = default;
PropertyBag& PropertyBag::operator=(PropertyBag&& other) noexcept = default;
PropertyBag::~PropertyBag() = default;

size_t PropertyBag::size() const { return entries_.size(); }

bool PropertyBag::has(const corestring& name) const { return findFirst(name) != nullptr; }

void PropertyBag::clear() {
  entries_.clear();
  errorCode_ = 0;
  errorText_ = corestring();
  hasError_ = false;
}

const PropertyBag::Entry* PropertyBag::findFirst(const corestring& name) const {
  for (const Entry& e : entries_)
    if (sameName(e.name, name)) return &e;
  return nullptr;
}

corestring PropertyBag::get(const corestring& name, const corestring& def) const {
  const Entry* e = findFirst(name);
  return e ? textOf(e->value).value_or(def) : def;
}

int32_t PropertyBag::getInt(const corestring& name, int32_t def) const {
  const Entry* e = findFirst(name);
  const std::optional<int64_t> v = e ? integerOf(e->value) : std::nullopt;
  // A number outside the 32-bit range does not convert.
  if (!v || *v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max()) return def;
  return static_cast<int32_t>(*v);
}

int64_t PropertyBag::getInt64(const corestring& name, int64_t def) const {
  const Entry* e = findFirst(name);
  return e ? integerOf(e->value).value_or(def) : def;
}

bool PropertyBag::getBool(const corestring& name, bool def) const {
  const Entry* e = findFirst(name);
  return e ? boolOf(e->value).value_or(def) : def;
}

PropertyBag PropertyBag::getBag(const corestring& name) const {
  const Entry* e = findFirst(name);
  const PropertyBag* bag = e ? std::get_if<PropertyBag>(&e->value) : nullptr;
  return bag ? *bag : PropertyBag();
}

size_t PropertyBag::getNextBag(const corestring& name, PropertyBag& out, size_t pos) const {
  for (size_t i = pos; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.type() == Type::Bag && sameName(e.name, name)) {
      out = std::get<PropertyBag>(e.value);
      return i + 1;
    }
  }
  return 0;
}

corestring PropertyBag::getName(size_t index) const {
  return index < entries_.size() ? entries_[index].name : corestring();
}

// Out of range: Type::String, with empty text and zero from the accessors below.
PropertyBag::Type PropertyBag::typeAt(size_t index) const {
  return index < entries_.size() ? entries_[index].type() : Type::String;
}

corestring PropertyBag::stringAt(size_t index) const {
  return index < entries_.size() ? textOf(entries_[index].value).value_or(corestring()) : corestring();
}

int64_t PropertyBag::intAt(size_t index) const {
  return index < entries_.size() ? integerOf(entries_[index].value).value_or(0) : 0;
}

bool PropertyBag::boolAt(size_t index) const {
  return index < entries_.size() ? boolOf(entries_[index].value).value_or(false) : false;
}

PropertyBag PropertyBag::bagAt(size_t index) const {
  if (index >= entries_.size()) return PropertyBag();
  const PropertyBag* bag = std::get_if<PropertyBag>(&entries_[index].value);
  return bag ? *bag : PropertyBag();
}

// The value arrives already copied into `entry`, so bag.setBag("self", bag) is safe.
void PropertyBag::replace(Entry entry) {
  std::vector<Entry>& entries = entries_;
  size_t first = entries.size();
  for (size_t i = 0; i < entries.size();) {
    if (!sameName(entries[i].name, entry.name)) {
      ++i;
    } else if (first == entries.size()) {
      first = i++;
    } else {
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  if (first == entries.size()) entries.push_back(std::move(entry));
  else entries[first] = std::move(entry);
}

void PropertyBag::set(const corestring& name, const corestring& value) { replace({name, value}); }
void PropertyBag::setInt(const corestring& name, int32_t value) { replace({name, value}); }
void PropertyBag::setInt64(const corestring& name, int64_t value) { replace({name, value}); }
void PropertyBag::setBool(const corestring& name, bool value) { replace({name, value}); }
void PropertyBag::setBag(const corestring& name, const PropertyBag& value, bool flag) {
  (void)flag;  // reserved
  replace({name, value});
}

void PropertyBag::add(const corestring& name, const corestring& value) { entries_.push_back({name, value}); }
void PropertyBag::addInt(const corestring& name, int32_t value) { entries_.push_back({name, value}); }
void PropertyBag::addInt64(const corestring& name, int64_t value) { entries_.push_back({name, value}); }
void PropertyBag::addBool(const corestring& name, bool value) { entries_.push_back({name, value}); }
void PropertyBag::addBag(const corestring& name, const PropertyBag& value, bool flag) {
  (void)flag;  // reserved
  Entry entry{name, value};  // copied before the vector may grow (value may be *this)
  entries_.push_back(std::move(entry));
}

bool PropertyBag::remove(const corestring& name) {
  const size_t before = entries_.size();
  std::erase_if(entries_, [&](const Entry& e) { return sameName(e.name, name); });
  return entries_.size() != before;
}

// Code 0 with no text clears the error.
void PropertyBag::setError(uint32_t code, const corestring& text) {
  errorCode_ = code;
  errorText_ = text;
  hasError_ = code != 0 || !text.empty();
}

uint32_t PropertyBag::getError() const { return errorCode_; }
corestring PropertyBag::getErrorText() const { return errorText_; }
bool PropertyBag::hasError() const { return hasError_; }

}  // namespace CORE
