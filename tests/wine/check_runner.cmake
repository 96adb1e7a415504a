# Runs one runner case under the emulator and checks its exit status and output.
#
# The case file (CASE) sets ARGS, SCRIPT (fed to stdin), EXPECT (lines that must occur in
# stdout as literal text, in this order), EXIT_CODE and optionally STDERR (text stderr must
# hold). Any refused script line fails the case. EXPECT lines hold no ";" (a CMake list).
include(${CASE})
file(MAKE_DIRECTORY ${WORK_DIR})
file(WRITE ${WORK_DIR}/script.jsonl "${SCRIPT}")
execute_process(
  COMMAND ${EMULATOR} ${HOST} ${ARGS}
  INPUT_FILE ${WORK_DIR}/script.jsonl
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 240)

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
