// CORE::coreException: keeps the UTF-8 form of its text for what().
#include "varnel/coreexception.h"

namespace CORE {

coreException::coreException(corestring text, uint32_t code)
    : text_(std::move(text)), code_(code), utf8_(text_.utf8()) {}

}  // namespace CORE
