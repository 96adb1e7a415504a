# Case: thresholds set through the runner's settings key in a registry of the case's own; the
# machine's real memory load (at least 1 %) raises the overall memory alarm, whose consumer list
# goes out first, and the settings are read back from Wine's registry.
set(OWN_PREFIX ON)
set(ARGS --script - --manual-timers --helpdesk --set OverallMemoryPercentage=1 --set AlarmLogConsumerMax=5)
set(EXIT_CODE 0)
set(SCRIPT [=[
{"cmd":"waitWorker","name":"perfmon","timeout_ms":30000}
{"cmd":"tick"}
{"cmd":"regget","path":"HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\OverallMemoryPercentage"}
{"cmd":"exit"}
]=])
set(EXPECT [=[
{"event":"worker","name":"perfmon","installed":true}
"text":"MEMORY-ALARM: physical memory use = 
{"event":"broadcast","name":"PERF-ALERT","name2":"PROCESS-LIST","bag":
"numConsumers","i32",
"reason","str","MEMORY"
{"event":"broadcast","name":"PERF-ALERT","name2":"MEMORY-ALARM","bag":
"MEMORY_PERCENTAGE","str","
{"event":"ticked","result":true}
OverallMemoryPercentage","type":"dword","value":1
{"event":"exited"}
]=])
