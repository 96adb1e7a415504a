# Case: load, PluginParams, PluginInit (the worker appears), a request, PluginExit, exit 0.
set(ARGS --script -)
set(EXIT_CODE 0)
set(SCRIPT [=[
{"cmd":"params","bag":{"PulseTimerLogAll":false}}
{"cmd":"waitWorker","name":"perfmon","timeout_ms":30000}
{"op":"collect","request":{}}
{"cmd":"exit"}
]=])
set(EXPECT [=[
{"event":"loaded","module":"statrix.dll"}
{"event":"params","result":true}
{"event":"worker","name":"perfmon","installed":true}
{"event":"reply","op":"collect","result":true
{"event":"log","level":0,"source":"statrix","text":"varnelPluginDll wait for threads to go"}
{"event":"log","level":0,"source":"statrix","text":"varnelPluginDll: all threads gone"}
{"event":"exited"}
]=])
