# Runs the staged executable headless with "quit" at the end of its command
# line; it must run game steps, echo its console and end with exit code 0. The wait is generous:
# on a loaded machine the first frames (content loading) can take most of a second, and the
# intro video plays for one second before them.
execute_process(
  COMMAND ${EXE} con_devconsole 1 ";" wait 4000 ";" demo_status ";" quit
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
