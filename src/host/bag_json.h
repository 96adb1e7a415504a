// Conversion between CORE::PropertyBag and its JSON form.
//
// The form is an array of [name, type, value] entries with type "str", "i32", "i64", "bool" or
// "bag" (a nested array).
#pragma once
#include <cstddef>
#include <string>

#include "json.h"
#include "varnel/propertybag.h"

namespace vhost {

// Always the full typed form: [[name, type, value], ...].
Json bagToJson(const CORE::PropertyBag& bag);

// Bags nest at most this deep (the outermost bag is level 1); deeper input is refused with an
// error, so hostile input cannot exhaust the stack.
inline constexpr size_t kMaxBagDepth = 32;

// Accepts the typed form, entries of the short form [name, value], and a whole bag written as
// an object; untyped values are inferred: string -> str, integer -> i32 if it fits else i64,
// boolean -> bool, array or object -> bag. On failure returns false with a reason that names
// the offending entry in `error` (and leaves `out` in an unspecified state).
bool jsonToBag(const Json& json, CORE::PropertyBag& out, std::string& error);

}  // namespace vhost
