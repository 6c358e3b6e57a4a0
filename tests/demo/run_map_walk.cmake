# Runs the staged engine headless on the sample map: the sample game must place its camera at the
# map's player start (64 128 48), and a held strafe must walk its box to the wall at y = 0 and stop
# there (the box is 16 units wide on each side), not pass through it. The keys are held several
# times longer than the walk needs: "wait" counts wall-clock time, and a loaded machine draws
# fewer frames in it.
execute_process(
  COMMAND ${EXE} con_devconsole 1 ";" map demo ";" wait 300 ";" demo_status
    ";" +_moveright ";" wait 6000 ";" -_moveright ";" wait 100 ";" demo_status
    ";" +_forward ";" +_moveright ";" wait 1000 ";" -_forward ";" -_moveright ";" wait 100 ";" demo_status
    ";" map demo ";" wait 200 ";" demo_status ";" disconnect ";" wait 100 ";" demo_status ";" quit
  WORKING_DIRECTORY ${DIR}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 120)
message("${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "quillmere ended with ${rc}\n${err}")
endif()
if(NOT out MATCHES "sample game: player start 64.0 128.0 48.0")
  message(FATAL_ERROR "the sample game did not find the player start\n${err}")
endif()
string(REGEX MATCHALL "sample game: camera at [-0-9.]+ [-0-9.]+ [-0-9.]+" cameras "${out}")
list(LENGTH cameras count)
# Three in the map, one after loading it again; none after "disconnect" (no map, the fixed scene).
if(NOT count EQUAL 4)
  message(FATAL_ERROR "expected four camera reports, got: ${cameras}\n${err}")
endif()
list(GET cameras 3 reloaded)
if(NOT reloaded MATCHES "camera at 64.00 128.00 48.00")
  message(FATAL_ERROR "loading the map again did not put the camera back at the start: ${reloaded}")
endif()
list(GET cameras 0 first)
list(GET cameras 1 second)
list(GET cameras 2 third)
if(NOT first MATCHES "camera at 64.00 128.00 48.00")
  message(FATAL_ERROR "the camera does not stand at the player start: ${first}")
endif()
# Strafing right from yaw 0 walks towards y = 0; the wall stops the box at y = 16.
if(NOT second MATCHES "camera at 64.00 (15\\.9[0-9]|16\\.[0-9][0-9]) 48.00")
  message(FATAL_ERROR "the walk did not stop at the wall: ${second}")
endif()
# Forward and right together against that wall: the box slides along it, on along x, still at y 16.
if(NOT third MATCHES "camera at ([0-9.]+) (15\\.9[0-9]|16\\.[0-9][0-9]) 48.00")
  message(FATAL_ERROR "the box did not slide along the wall: ${third}")
endif()
if(NOT CMAKE_MATCH_1 GREATER 70)
  message(FATAL_ERROR "the box stuck to the wall instead of sliding: ${third}")
endif()
# The map's speaker plays through the sound manager.
string(REGEX MATCHALL "sample game: speaker 'demo/hum' plays at 384 128 64" speakers "${out}")
list(LENGTH speakers speakerCount)
if(NOT speakerCount EQUAL 2)
  message(FATAL_ERROR "the map's speaker did not play on each load\n${err}")
endif()
if(out MATCHES "ERROR" OR err MATCHES "AddressSanitizer|runtime error")
  message(FATAL_ERROR "errors during the run\n${err}")
endif()
