// Script mode: one command per line, each one's events reported before the next line is read.
#pragma once
#include <istream>
#include <string_view>

#include "event_sink.h"
#include "plugin_api.h"
#include "script/command.h"

namespace vhost {

class FrameworkEvents;

class ScriptRunner {
 public:
  // `framework` may be null where no help-desk worker can be installed (the command then
  // reports an error).
  ScriptRunner(EventSink& sink, PluginCalls& plugin, FrameworkEvents* framework)
      : sink_(sink), plugin_(plugin), framework_(framework) {}

  // Runs every line of `in`; blank lines are skipped, a bad line gives an "error" event.
  void run(std::istream& in);
  // One line; `lineNumber` counts from 1.
  void runLine(size_t lineNumber, std::string_view line);

 private:
  void execute(size_t line, const Command& command);
  void execute(size_t line, const OpCommand& cmd);
  void execute(size_t line, const TickCommand& cmd);
  void execute(size_t line, const RegSetCommand& cmd);
  void execute(size_t line, const RegGetCommand& cmd);
  void execute(size_t line, const HelpdeskCommand& cmd);
  void execute(size_t line, const WaitWorkerCommand& cmd);
  void execute(size_t line, const SleepCommand& cmd);
  void execute(size_t line, const ParamsCommand& cmd);
  void execute(size_t line, const ExitCommand& cmd);

  EventSink& sink_;
  PluginCalls& plugin_;
  FrameworkEvents* framework_;
};

// PluginExit unless done, then the "exited" event.
void exitPlugin(PluginCalls& plugin, EventSink& sink);

}  // namespace vhost
