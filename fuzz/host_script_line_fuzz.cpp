// Fuzzes the runner's script-line parser with the bag conversion: any line gives a command or
// a reason, never an exception or a crash, and a request bag survives its JSON form unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bag_json.h"
#include "script/command.h"

namespace {

// A bag written as JSON and read back must print the same.
void roundTrip(const CORE::PropertyBag& bag) {
  const vhost::Json json = vhost::bagToJson(bag);
  CORE::PropertyBag again;
  std::string error;
  if (!vhost::jsonToBag(json, again, error)) std::abort();
  if (vhost::dumpLine(vhost::bagToJson(again)) != vhost::dumpLine(json)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  vhost::Command command;
  std::string error;
  if (!vhost::parseCommand(line, command, error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (const auto* op = std::get_if<vhost::OpCommand>(&command)) roundTrip(op->request);
  if (const auto* params = std::get_if<vhost::ParamsCommand>(&command); params && params->bag)
    roundTrip(*params->bag);
  return 0;
}
