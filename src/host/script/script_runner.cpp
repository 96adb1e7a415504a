// Carrying out script commands.
#include "script/script_runner.h"

#include <chrono>
#include <exception>
#include <string>
#include <thread>

#include "events.h"
#include "framework_events.h"
#include "json.h"
#include "winapi.h"

namespace vhost {

namespace {

CORE::corestring wide(const std::string& s) { return CORE::corestring::fromUtf8(s); }

bool isBlank(std::string_view line) { return line.find_first_not_of(" \t\r\n") == std::string_view::npos; }

}  // namespace

void exitPlugin(PluginCalls& plugin, EventSink& sink) {
  plugin.exitOnce();
  sink.emit(events::exited());
}

void ScriptRunner::run(std::istream& in) {
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) runLine(number, line);
}

void ScriptRunner::runLine(size_t lineNumber, std::string_view line) {
  if (isBlank(line)) return;
  Command command;
  std::string error;
  bool parsed = false;
  try {
    parsed = parseCommand(line, command, error);
  } catch (const std::exception& e) {
    // parseCommand reports bad input itself; this is the last guard (out of memory, say) that
    // keeps the promise of an error event and a script that goes on.
    error = std::string("cannot read the line: ") + e.what();
  }
  if (!parsed) {
    sink_.emit(events::error(lineNumber, error));
    return;
  }
  execute(lineNumber, command);
}

void ScriptRunner::execute(size_t line, const Command& command) {
  std::visit([&](const auto& cmd) { execute(line, cmd); }, command);
}

void ScriptRunner::execute(size_t, const OpCommand& cmd) {
  // The framework may change the request; the command keeps its own copy.
  CORE::PropertyBag request = cmd.request;
  CORE::PropertyBag reply;
  std::optional<bool> result = CORE::requestWorker(wide(cmd.worker), wide(cmd.op), request, reply, cmd.caller);
  sink_.emit(events::reply(cmd.op, result, reply));
}

void ScriptRunner::execute(size_t, const TickCommand&) { sink_.emit(events::ticked(CORE::tickTimers())); }

void ScriptRunner::execute(size_t line, const RegSetCommand& cmd) {
  if (!CORE::registryWrite(wide(cmd.path), cmd.value)) {
    DWORD code = GetLastError();
    sink_.emit(events::error(line, "cannot write " + cmd.path + ": " + CORE::corestring::formatError(code).utf8()));
    return;
  }
  // The plug-in's settings follow the registry; the event means they have caught up.
  CORE::syncConfiguration();
  sink_.emit(events::regset(cmd.path));
}

void ScriptRunner::execute(size_t, const RegGetCommand& cmd) {
  sink_.emit(events::registry(cmd.path, CORE::registryRead(wide(cmd.path))));
}

void ScriptRunner::execute(size_t line, const HelpdeskCommand& cmd) {
  // Success shows as the framework's "worker" added/removed event.
  if (framework_ == nullptr || !framework_->setHelpdesk(cmd.installed))
    sink_.emit(events::error(line, std::string("cannot ") + (cmd.installed ? "install" : "remove") +
                                       " the help-desk worker"));
}

void ScriptRunner::execute(size_t, const WaitWorkerCommand& cmd) {
  bool installed = CORE::waitForWorker(wide(cmd.name), cmd.installed, cmd.timeoutMs);
  sink_.emit(events::workerState(cmd.name, installed));
}

void ScriptRunner::execute(size_t, const SleepCommand& cmd) {
  std::this_thread::sleep_for(std::chrono::milliseconds(cmd.ms));
}

void ScriptRunner::execute(size_t, const ParamsCommand& cmd) {
  // PluginParams takes a non-const bag; hand it a copy.
  std::optional<CORE::PropertyBag> bag = cmd.bag;
  sink_.emit(events::params(plugin_.params(bag ? &*bag : nullptr)));
}

void ScriptRunner::execute(size_t, const ExitCommand&) { exitPlugin(plugin_, sink_); }

}  // namespace vhost
