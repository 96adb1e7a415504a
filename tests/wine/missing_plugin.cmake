# Case: a plug-in that is not there ends the runner with status 2 and the reason on stderr.
set(ARGS --script - --plugin [=[Z:\nonexistent\statrix.dll]=])
set(EXIT_CODE 2)
set(SCRIPT [=[
{"cmd":"exit"}
]=])
set(EXPECT "")
set(STDERR [=[cannot load plug-in Z:\nonexistent\statrix.dll]=])
