// varnel-host's start-up, run and shut-down, in the host's order.
#include "runner.h"

#include <fstream>

#include "framework_events.h"
#include "help.h"
#include "metrics/metrics_endpoint.h"
#include "options.h"
#include "plugin_loader.h"
#include "script/script_runner.h"
#include "stop_signal.h"
#include "varnel/threads.h"
#include "winapi.h"

namespace vhost {

namespace {

CORE::corestring wide(const std::string& s) { return CORE::corestring::fromUtf8(s); }

int fail(std::ostream& err, const std::string& reason) {
  err << "varnel-host: " << reason << '\n';
  err.flush();
  return kExitUsage;
}

// The Linux layer reads its roots from the environment on every call; setting them first
// means nothing has read the defaults.
bool setEnvironment(const Options& options, std::string& error) {
  const std::pair<const wchar_t*, const std::optional<std::string>*> vars[] = {
      {L"VARNEL_REGISTRY", &options.registry}, {L"VARNEL_PROCFS", &options.procfs}, {L"VARNEL_UTMP", &options.utmp}};
  for (const auto& [name, value] : vars) {
    if (!*value) continue;
    if (!SetEnvironmentVariableW(name, wide(**value).c_str())) {
      error = "cannot set " + utf8(name) + ": " + CORE::corestring::formatError(GetLastError()).utf8();
      return false;
    }
  }
  return true;
}

void configureFramework(const Options& options) {
  if (options.level) CORE::setLogLevel(*options.level);
  CORE::setManualTimers(options.manualTimers);
  CORE::corerunnable_traceThreads = options.traceThreads;
}

bool writeSettings(const Options& options, std::string& error) {
  for (const NameValue& setting : options.settings) {
    CORE::corestring path = CORE::corestring(kAlarmSettingsKey) + L"\\" + wide(setting.name);
    if (!CORE::registryWrite(path, settingValue(setting.value))) {
      error = "cannot write " + path.utf8() + ": " + CORE::corestring::formatError(GetLastError()).utf8();
      return false;
    }
  }
  return true;
}

}  // namespace

int runHost(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  Options options;
  std::string error;
  if (!parseOptions(args, options, error)) return fail(err, error + " (see --help)");
  if (options.help) {
    out << kHelpText;
    out.flush();
    return 0;
  }

  std::ifstream scriptFile;
  std::istream* script = nullptr;
  if (options.script) {
    if (*options.script == "-") {
      script = &in;
    } else {
      scriptFile.open(*options.script);
      if (!scriptFile) return fail(err, "cannot open script " + *options.script);
      script = &scriptFile;
    }
  }

  if (!setEnvironment(options, error)) return fail(err, error);

  EventSink sink(out, options.json ? EventSink::Mode::Json : EventSink::Mode::Human);
  FrameworkEvents framework(sink);
  configureFramework(options);

  if (!writeSettings(options, error)) return fail(err, error);
  if (options.helpdesk && !framework.setHelpdesk(true)) return fail(err, "cannot install the help-desk worker");

  // Human mode: a SIGTERM from here on ends the run cleanly, even before the plug-in is up.
  if (script == nullptr) armStopSignals();

  std::optional<MetricsEndpoint> endpoint;
  if (options.metricsListen) {
    endpoint.emplace(framework);
    if (!endpoint->start(*options.metricsListen, error)) return fail(err, error);
    sink.note("metrics at http://" + options.metricsListen->host + ":" +
              std::to_string(options.metricsListen->port) + "/metrics");
  }

  // Without --plugin: the first default location that loads; a failure names the first.
  std::vector<std::wstring> paths =
      options.plugin ? std::vector<std::wstring>{wide(*options.plugin).str()} : defaultPluginPaths();
  PluginModule module;
  bool loaded = false;
  std::string firstError;
  for (const std::wstring& path : paths) {
    sink.note("loading " + utf8(path));
    loaded = module.load(path, error);
    if (loaded) break;
    if (firstError.empty()) firstError = error;
  }
  if (!loaded) return fail(err, firstError);
  PluginApi api;
  if (!module.resolve(api, error)) return fail(err, error);

  PluginCalls plugin(api);
  CORE::PropertyBag params = paramBag(options.params);
  bool paramsOk = plugin.params(&params);
  sink.note(std::string("PluginParams: ") + (paramsOk ? "true" : "false"));
  bool initOk = plugin.init();
  sink.note(std::string("PluginInit: ") + (initOk ? "true" : "false"));
  if (!initOk) err << "varnel-host: PluginInit returned false" << std::endl;

  if (endpoint) endpoint->prime();

  if (script != nullptr) {
    ScriptRunner(sink, plugin, &framework).run(*script);
  } else {
    waitForStop(options.seconds);
    sink.note("stopping");
  }
  // No scrape reaches the plug-in while it ends.
  if (endpoint) endpoint->stop();
  if (!plugin.exited()) exitPlugin(plugin, sink);
  module.unload();
  sink.note("plug-in unloaded");
  return 0;
}

}  // namespace vhost
