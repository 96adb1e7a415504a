# Case: two manual ticks measure the machine through Wine's system calls and publish both
# percentages in Wine's registry, where a read finds them.
set(ARGS --script - --manual-timers --helpdesk)
set(EXIT_CODE 0)
set(SCRIPT [=[
{"cmd":"waitWorker","name":"perfmon","timeout_ms":30000}
{"cmd":"tick"}
{"cmd":"sleep","ms":500}
{"cmd":"tick"}
{"cmd":"regget","path":"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\CpuPercentage"}
{"cmd":"regget","path":"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\MemoryPercentage"}
{"op":"collectCpuAndMem","request":{}}
{"cmd":"exit"}
]=])
set(EXPECT [=[
{"event":"worker","name":"perfmon","installed":true}
MemoryPercentage","type":"dword","value":
"op":"HelpdeskOperation"
{"event":"ticked","result":true}
CpuPercentage","type":"dword","value":
{"event":"ticked","result":true}
{"event":"registry","path":
CpuPercentage","type":"dword","value":
{"event":"registry","path":
MemoryPercentage","type":"dword","value":
{"event":"reply","op":"collectCpuAndMem","result":true
"TOTAL_MEMORY"
{"event":"exited"}
]=])
