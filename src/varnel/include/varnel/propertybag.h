// CORE::PropertyBag: the framework's ordered bag of named, typed values (names may repeat).
// Names keep their spelling but are looked up ignoring case ("cpu" finds "CPU").
#pragma once
#include <cstdint>
#include <vector>

#include "varnel/corestring.h"

namespace CORE {

class VARNEL_API PropertyBag {
 public:
  enum class Type { String, Int32, Int64, Bool, Bag };

  PropertyBag();
  PropertyBag(const PropertyBag& other);  // deep copy
  PropertyBag(PropertyBag&& other) noexcept;
  PropertyBag& operator=(const PropertyBag& other);  // deep copy
  PropertyBag& operator=(PropertyBag&& other) noexcept;
  ~PropertyBag();

  size_t size() const;
  bool has(const corestring& name) const;
  void clear();  // entries and error

  // Readers take the first entry of the name. Numbers and numeric text convert where that
  // makes sense; a missing name, or a value that does not convert, gives the default: text
  // that is no decimal, a bag, and for getInt a number outside 32 bits. Booleans read as 1/0
  // and "true"/"false"; getBool also knows true/yes/on and false/no/off (any case).
  corestring get(const corestring& name, const corestring& def = corestring()) const;
  int32_t getInt(const corestring& name, int32_t def = 0) const;
  int64_t getInt64(const corestring& name, int64_t def = 0) const;
  bool getBool(const corestring& name, bool def = false) const;
  PropertyBag getBag(const corestring& name) const;  // empty when missing or not a bag
  // Finds the next nested bag named `name` at an index >= `pos`, copies it to `out` and returns
  // the index after it; returns 0 when there is none. Walk: pos = 0, then the returned value.
  size_t getNextBag(const corestring& name, PropertyBag& out, size_t pos) const;

  // Access by index (0 <= index < size()), in insertion order.
  corestring getName(size_t index) const;  // empty text when out of range
  Type typeAt(size_t index) const;  // String when out of range
  corestring stringAt(size_t index) const;  // any scalar as text
  int64_t intAt(size_t index) const;
  bool boolAt(size_t index) const;
  PropertyBag bagAt(size_t index) const;

  // The set family replaces the first entry of the name (appending when there is none) and
  // drops later entries of the same name; the add family appends.
  void set(const corestring& name, const corestring& value);
  void setInt(const corestring& name, int32_t value);
  void setInt64(const corestring& name, int64_t value);
  void setBool(const corestring& name, bool value);
  void setBag(const corestring& name, const PropertyBag& value, bool flag = false);
  void add(const corestring& name, const corestring& value);
  void addInt(const corestring& name, int32_t value);
  void addInt64(const corestring& name, int64_t value);
  void addBool(const corestring& name, bool value);
  void addBag(const corestring& name, const PropertyBag& value, bool flag = false);
  bool remove(const corestring& name);  // every entry of the name; true if any

  // Error code with optional text; setError(0) with no text clears the error.
  void setError(uint32_t code, const corestring& text = corestring());
  uint32_t getError() const;
  corestring getErrorText() const;
  bool hasError() const;

 private:
  struct Entry;
  const Entry* findFirst(const corestring& name) const;
  void replace(Entry entry);

  std::vector<Entry> entries_;
  uint32_t errorCode_ = 0;
  corestring errorText_;
  bool hasError_ = false;
};

}  // namespace CORE
