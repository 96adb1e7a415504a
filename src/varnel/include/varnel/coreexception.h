// CORE::coreException: the framework's exception, carrying a text and an optional code.
#pragma once
#include <exception>
#include <string>

#include "varnel/corestring.h"

namespace CORE {

class VARNEL_API coreException : public std::exception {
 public:
  explicit coreException(corestring text, uint32_t code = 0);
  const corestring& text() const { return text_; }
  uint32_t code() const { return code_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  corestring text_;
  uint32_t code_;
  std::string utf8_;
};

}  // namespace CORE
