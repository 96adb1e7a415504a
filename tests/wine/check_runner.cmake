# Runs one runner case under the emulator and checks its exit status and output.
#
# The case file (CASE) sets ARGS, SCRIPT (fed to stdin), EXPECT (lines that must occur in
# stdout as literal text, in this order), EXIT_CODE and optionally STDERR (text stderr must
# hold). Any refused script line fails the case. EXPECT lines hold no ";" and no brackets (a CMake list).
# A case that sets OWN_PREFIX runs in a prefix of its own, a copy of the shared prefix's
# registry (drive C: is shared, read-only in use), so the settings it writes reach no other
# case; its own wineserver is stopped at the end.
include(${CASE})
file(MAKE_DIRECTORY ${WORK_DIR})
file(WRITE ${WORK_DIR}/script.jsonl "${SCRIPT}")
set(run ${EMULATOR} ${HOST} ${ARGS})
if(OWN_PREFIX)
  set(shared "$ENV{WINEPREFIX}")
  if(NOT EXISTS "${shared}/system.reg")
    message(FATAL_ERROR "OWN_PREFIX needs the shared prefix in WINEPREFIX (scripts/test sets it)")
  endif()
  set(prefix ${WORK_DIR}/prefix)
  file(REMOVE_RECURSE ${prefix})
  file(MAKE_DIRECTORY ${prefix})
  # The timestamp keeps Wine from rebuilding the copy as an outdated prefix.
  file(COPY ${shared}/system.reg ${shared}/user.reg ${shared}/userdef.reg ${shared}/.update-timestamp
       ${shared}/dosdevices DESTINATION ${prefix})
  file(CREATE_LINK ${shared}/drive_c ${prefix}/drive_c SYMBOLIC)
  set(run ${CMAKE_COMMAND} -E env WINEPREFIX=${prefix} ${run})
endif()
execute_process(
  COMMAND ${run}
  INPUT_FILE ${WORK_DIR}/script.jsonl
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 240)
if(OWN_PREFIX)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${prefix} /usr/lib/wine/wineserver -k
                  OUTPUT_QUIET ERROR_QUIET)
endif()

set(report "exit status: ${rc}\n--- stdout\n${out}--- stderr\n${err}")
if(NOT "${rc}" STREQUAL "${EXIT_CODE}")
  message(FATAL_ERROR "expected exit status ${EXIT_CODE}\n${report}")
endif()

string(REPLACE "\n" ";" expected "${EXPECT}")
set(rest "${out}")
foreach(line IN LISTS expected)
  if(line STREQUAL "")
    continue()
  endif()
  string(FIND "${rest}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing (or out of order): ${line}\n${report}")
  endif()
  string(LENGTH "${line}" length)
  math(EXPR at "${at} + ${length}")
  string(SUBSTRING "${rest}" ${at} -1 rest)
endforeach()

string(FIND "${out}" "{\"event\":\"error\"" refused)
if(NOT refused EQUAL -1)
  message(FATAL_ERROR "a script line was refused\n${report}")
endif()

if(DEFINED STDERR)
  string(FIND "${err}" "${STDERR}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "stderr lacks: ${STDERR}\n${report}")
  endif()
endif()
