// The --help text of varnel-host.
#include "help.h"

namespace vhost {

const char kHelpText[] = R"(Usage: varnel-host [options]

Loads the plug-in as the host does (PluginParams, PluginInit), shows what it does, and at the
end calls PluginExit and unloads it.

Options:
  --plugin PATH        plug-in library (default: the plug-in beside this program)
  --registry DIR       root of the file-backed registry (sets VARNEL_REGISTRY)
  --procfs DIR         root of the procfs tree machine data is read from (sets VARNEL_PROCFS)
  --utmp FILE          login records terminal sessions are read from (sets VARNEL_UTMP)
  --param NAME=VALUE   plug-in parameter, repeatable; true/false is a bool, an integer an
                       integer, anything else a string
  --set NAME=VALUE     alarm setting written under
                       "HKLM\Software\Vantrel\Orvane\Performance Alarms" before start;
                       a whole number is a DWORD, anything else a string
  --unset NAME         remove that alarm setting before start, so its default applies
  --helpdesk           install the stand-in "AgentHelpDesk" worker, which shows its messages
  --seconds N          human mode: stop after N seconds (default: at SIGINT or SIGTERM)
  --top                human mode as a live view redrawn every pass: figures with their
                       history, the busiest processes, counters, alarms (q or Ctrl-C quits);
                       plain lines when standard output is no terminal
  --verbose            human mode: also registry writes, timer and worker changes and
                       help-desk messages
  --script FILE|-      script mode: one JSON command per line from FILE or stdin; implies --json
  --json               one JSON event per line instead of readable lines
  --manual-timers      host timers fire only on {"cmd":"tick"}
  --trace-threads      switch on the host's thread begin/end trace lines
  --level N            lowest system-message level shown (0 Trace .. 4 Error; default 2 in
                       human mode, 0 with --json)
  --metrics-listen ADDR:PORT
                       serve Prometheus metrics at http://ADDR:PORT/metrics (GET/HEAD
                       only), e.g. 127.0.0.1:9464; default: no endpoint
  --web-config FILE    TLS, client certificates, basic auth and headers of the endpoint
                       (YAML as Prometheus exporters read it), read again when changed
  --help               this text

Script commands (one JSON object per line; a bad line gives an "error" event and the script
goes on):
  {"op":NAME,"request":BAG,"caller":"admin"|"user"|"unknown","worker":"perfmon"}
  {"cmd":"tick"}
  {"cmd":"regset","path":"HKLM\\...\\Name","type":"sz"|"dword"|"multi_sz","value":V}
  {"cmd":"regget","path":"HKLM\\...\\Name"}
  {"cmd":"helpdesk","installed":BOOL}
  {"cmd":"waitWorker","name":N,"timeout_ms":T,"installed":BOOL}
  {"cmd":"sleep","ms":T}
  {"cmd":"params","bag":BAG|null}
  {"cmd":"exit"}
Bags are arrays of [name, type, value] (type "str", "i32", "i64", "bool" or "bag"), of
[name, value], or objects; untyped values have their type inferred. Bags nest at most 32 deep,
a line at most 100 levels of arrays and objects; a line holding a NUL byte is refused.

Exit status: 0 when done, 2 for a bad command line or a plug-in that cannot be loaded.
)";

}  // namespace vhost
