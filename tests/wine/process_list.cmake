# Case: a memory threshold of 1 % makes every pass an overall alarm; the top consumers of Wine's
# process list (owners through Wine's tokens) are broadcast before the alarm itself.
set(ARGS --script - --manual-timers --set OverallMemoryPercentage=1 --set OverallCpuPercentage=0
    --set AlarmLogConsumerMax=5)
set(EXIT_CODE 0)
set(SCRIPT [=[
{"cmd":"waitWorker","name":"perfmon","timeout_ms":30000}
{"cmd":"tick"}
{"cmd":"exit"}
]=])
set(EXPECT [=[
{"event":"worker","name":"perfmon","installed":true}
"text":"MEMORY-ALARM: physical memory use = 
{"event":"broadcast","name":"PERF-ALERT","name2":"PROCESS-LIST","bag":[["numConsumers","i32",
["reason","str","MEMORY"]
{"event":"broadcast","name":"PERF-ALERT","name2":"MEMORY-ALARM"
{"event":"ticked","result":true}
{"event":"exited"}
]=])
