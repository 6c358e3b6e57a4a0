# Runs the staged executable headless with "quit" at the end of its command
# line; it must run game steps, echo its console and end with exit code 0. "wait" counts wall-clock
# milliseconds from the first frame, and under sanitizers on a loaded machine content loading can
# hold that frame for seconds: the status is asked three times, and any one with steps will do.
execute_process(
  COMMAND ${EXE} con_devconsole 1 ";" wait 2000 ";" demo_status ";" wait 3000 ";" demo_status ";" wait 6000
    ";" demo_status ";" quit
  WORKING_DIRECTORY ${DIR}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 60)
message("${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "quillmere ended with ${rc}\n${err}")
endif()
if(NOT out MATCHES "-- DEV CONSOLE --")
  message(FATAL_ERROR "the developer console was not announced")
endif()
if(NOT out MATCHES "sample game: [1-9][0-9]* steps")
  message(FATAL_ERROR "the sample game ran no steps")
endif()
# The renderer is made once, with the configuration's settings: every GL program is built once
# (a second build means a restart of the whole renderer at start-up).
string(REGEX MATCHALL "!!ARBfp\\(lightmap\\.vfp\\): worked" builds "${out}")
list(LENGTH builds buildCount)
if(NOT buildCount EQUAL 1)
  message(FATAL_ERROR "the light-map program was built ${buildCount} times at start-up")
endif()
string(REGEX MATCHALL "Config file default\\.cfg loaded\\." loads "${out}")
list(LENGTH loads loadCount)
if(NOT loadCount EQUAL 1)
  message(FATAL_ERROR "default.cfg was read ${loadCount} times at start-up")
endif()
