// varnel-host's start-up, run and shut-down, in the host's order.
#include "runner.h"

#include <fstream>

#include "framework_events.h"
#include "help.h"
#include "human/alarm_settings.h"
#include "human/human_mode.h"
#include "json.h"
#include "metrics/metrics_endpoint.h"
#include "options.h"
#include "plugin_loader.h"
#include "script/script_runner.h"
#include "stop_signal.h"
#include "top/top_screen.h"
#include "top/top_view.h"
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
  // People see Info and above unless they ask; scripts get every line.
  if (options.level) CORE::setLogLevel(*options.level);
  else if (!options.json) CORE::setLogLevel(2);
  CORE::setManualTimers(options.manualTimers);
  CORE::corerunnable_traceThreads = options.traceThreads;
}

bool writeSettings(const Options& options, std::string& error) {
  for (const std::string& name : options.unsets)
    if (!unsetAlarmSetting(name, error)) return false;
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

  // Human mode for people: lines, or the live view when asked for on a terminal.
  const bool human = !options.json;
  bool top = false;
  if (options.top && human) {
    if (!TopScreen::supported(error)) return fail(err, error);
    top = TopScreen::stdoutIsTerminal();
  }
  // The live view owns the screen: events are not printed while it runs.
  std::ostream nowhere(nullptr);
  PassFigures passes;  // outlives the framework's notifications
  EventSink sink(top ? nowhere : out, options.json ? EventSink::Mode::Json : EventSink::Mode::Human,
                 options.verbose);
  FrameworkEvents framework(sink);
  if (human) framework.setPassFigures(&passes);
  configureFramework(options);

  if (!writeSettings(options, error)) return fail(err, error);
  if (human) {
    std::vector<std::string> setNow;
    for (const NameValue& setting : options.settings) setNow.push_back(setting.name);
    sink.note(settingsLine(readAlarmSettings(setNow)));
  }
  if (options.helpdesk && !framework.setHelpdesk(true)) return fail(err, "cannot install the help-desk worker");

  // Human mode: a SIGTERM from here on ends the run cleanly, even before the plug-in is up.
  if (script == nullptr) armStopSignals();

  if (options.webConfig && !options.metricsListen) return fail(err, "--web-config needs --metrics-listen");
  std::optional<MetricsEndpoint> endpoint;
  std::string endpointUrl;
  if (options.metricsListen) {
    endpoint.emplace(framework, [&sink](const std::string& line) { sink.note(line); });
    if (!endpoint->start(*options.metricsListen, options.webConfig.value_or(""), error)) return fail(err, error);
    endpointUrl = std::string(endpoint->tls() ? "https://" : "http://") + options.metricsListen->host + ":" +
                  std::to_string(options.metricsListen->port) + "/metrics";
    sink.note("metrics at " + endpointUrl);
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

  // The first collection loads the plug-in's counter metrics; the endpoint makes it on its own.
  HumanMode humanMode(sink, passes);
  if (human && initOk) {
    humanMode.start([&] {
      if (endpoint)
        endpoint->prime();
      else
        firstCollection();
    });
  } else if (endpoint) {
    endpoint->prime();
  }

  if (script != nullptr) {
    ScriptRunner(sink, plugin, &framework).run(*script);
  } else if (top) {
    runTopView(passes, endpointUrl, options.seconds, stopRequested);
    disarmStopSignals();
  } else if (human) {
    humanMode.run(options.seconds, stopRequested);
    disarmStopSignals();
    sink.note("stopping");
  } else {
    waitForStop(options.seconds);
    sink.note("stopping");
  }
  // No scrape reaches the plug-in while it ends.
  if (endpoint) endpoint->stop();
  if (!plugin.exited()) exitPlugin(plugin, sink);
  module.unload();
  sink.note("plug-in unloaded");
  if (top) out << "PluginExit done, plug-in unloaded" << std::endl;
  return 0;
}

}  // namespace vhost
