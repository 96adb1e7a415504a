// The runner's JSON type, declared only: for headers that take or return it without looking
// inside, so that the files including them need not compile the whole JSON library.
#pragma once
#include <nlohmann/json_fwd.hpp>

namespace vhost {

using Json = nlohmann::ordered_json;

}  // namespace vhost
