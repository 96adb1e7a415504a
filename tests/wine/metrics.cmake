# Case: Wine's PDH knows only "\Processor(_Total)\% Processor Time". The defaults fail to be added
# (logged at Error with PDH's status, the probe at Warn), the one counter Wine has is collected,
# published in Wine's registry on a tick, sent to the help desk and returned in the reply.
# (EXPECT lines hold no brackets: CMake's list splitting would join them.)
set(ARGS --script - --manual-timers --helpdesk)
set(EXIT_CODE 0)
set(SCRIPT [=[
{"cmd":"waitWorker","name":"perfmon","timeout_ms":30000}
{"op":"collectCpuAndMem","request":{}}
{"op":"configPerfmonMetrics","request":[["plugin_name","str","brask_helpdesk"],["statrixMetrics","bag",[["isAdd","bool",true],["strMetricName","str","CPU_TOTAL"],["strCounterObject","str","Processor"],["strCounter","str","% Processor Time"],["strInstance","str","_Total"]]],["statrixMetrics","bag",[["isAdd","bool",true],["strCounterObject","str","Processor"],["strCounter","str","*"],["strInstance","str","*"]]]]}
{"cmd":"tick"}
{"cmd":"sleep","ms":500}
{"cmd":"tick"}
{"cmd":"regget","path":"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\% Processor Time"}
{"op":"collectCpuAndMem","request":{}}
{"cmd":"exit"}
]=])
set(EXPECT [=[
{"event":"worker","name":"perfmon","installed":true}
"text":"Perf Counter update, failed to add counter"
"text":"Failed to add counter \\System\\Processor Queue Length, error: 0xc0000bb9"
"text":"Failed to add counter \\PhysicalDisk(_Total)\\Current Disk Queue Length, error: 0xc0000bb9"
{"event":"reply","op":"collectCpuAndMem","result":true
"text":"Add counter: Processor, % Processor Time, _Total, metric: CPU_TOTAL, metrics count: 1"
"text":"Failed to list counters for object Processor, error: 0x
"text":"Failed to extend counter: Processor"
{"event":"reply","op":"configPerfmonMetrics","result":true
{"event":"ticked","result":true}
Performance Stats\\% Processor Time","type":"dword","value":
"op":"HelpdeskOperation"
"CPU_TOTAL","i64",
{"event":"ticked","result":true}
{"event":"registry","path":"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\% Processor Time","type":"dword","value":
{"event":"reply","op":"collectCpuAndMem","result":true,"reply":
"CPU_TOTAL","i64",
{"event":"exited"}
]=])
