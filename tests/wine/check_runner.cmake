# Runs varnel-host (through EMULATOR) with ARGS and SCRIPT on stdin, then checks the exit
# status (EXIT_CODE), that every line of the file EXPECT occurs in stdout in that order (as
# literal text), that no script line was refused, and that stderr holds STDERR if given.
execute_process(
  COMMAND ${EMULATOR} ${HOST} ${ARGS}
  INPUT_FILE ${SCRIPT}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 240)

set(report "exit status: ${rc}\n--- stdout\n${out}--- stderr\n${err}")
if(NOT "${rc}" STREQUAL "${EXIT_CODE}")
  message(FATAL_ERROR "expected exit status ${EXIT_CODE}\n${report}")
endif()

if(EXPECT)
  file(READ ${EXPECT} expected)
  string(REPLACE "\r" "" expected "${expected}")
  string(REPLACE "\n" ";" expected "${expected}")
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
endif()

string(FIND "${out}" "{\"event\":\"error\"" refused)
if(NOT refused EQUAL -1)
  message(FATAL_ERROR "a script line was refused\n${report}")
endif()

if(STDERR)
  string(FIND "${err}" "${STDERR}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "stderr lacks: ${STDERR}\n${report}")
  endif()
endif()
