# The staged engine loads the sample map with its collision file damaged five ways (empty, truncated,
# zero-filled, random bytes, numbers that are no finite floats). Each time the map still loads
# (the sample game reaches the player start), the engine ends normally, and the output names the
# file and says that the map has no world collision; a fault with a line says which line.
# -DEXE=<quillmere> -DDIR=<staged tree> -DTMP=<scratch folder>

# A tree of links to the staged content, with a collision file of our own.
set(tree ${TMP}/damaged_cm)
file(REMOVE_RECURSE ${tree})
file(MAKE_DIRECTORY ${tree}/media/maps)
file(GLOB entries RELATIVE ${DIR}/media ${DIR}/media/*)
foreach(entry ${entries})
  if(NOT entry STREQUAL "maps" AND NOT entry STREQUAL "screenshots")
    file(CREATE_LINK ${DIR}/media/${entry} ${tree}/media/${entry} SYMBOLIC)
  endif()
endforeach()
file(GLOB maps RELATIVE ${DIR}/media/maps ${DIR}/media/maps/*)
foreach(entry ${maps})
  if(NOT entry STREQUAL "demo.cm")
    file(CREATE_LINK ${DIR}/media/maps/${entry} ${tree}/media/maps/${entry} SYMBOLIC)
  endif()
endforeach()

file(READ ${DIR}/media/maps/demo.cm whole)
string(LENGTH "${whole}" size)
math(EXPR half "${size} / 2")
string(SUBSTRING "${whole}" 0 ${half} truncated)
string(RANDOM LENGTH 2000 ALPHABET "0123456789{}\"!CMabcdefnodes -.\n" RANDOM_SEED 44 random)
# The first plane distance of the first node becomes too large for a float; then "nan".
string(REGEX REPLACE "(/\\* node 0 \\*/ [-0-9.]+ [-0-9.]+ [-0-9.]+ )[-0-9.]+" "\\11e39" huge "${whole}")
string(REGEX REPLACE "(/\\* node 0 \\*/ [-0-9.]+ [-0-9.]+ [-0-9.]+ )[-0-9.]+" "\\1nan" nan "${whole}")
if(huge STREQUAL whole OR nan STREQUAL whole)
  message(FATAL_ERROR "the sample map's collision file no longer has the node the test damages")
endif()

foreach(damage empty truncated zeros random huge nan)
  if(damage STREQUAL "empty")
    file(WRITE ${tree}/media/maps/demo.cm "")
  elseif(damage STREQUAL "zeros")
    execute_process(COMMAND head -c 3000 /dev/zero OUTPUT_FILE ${tree}/media/maps/demo.cm)
  else()
    file(WRITE ${tree}/media/maps/demo.cm "${${damage}}")
  endif()
  execute_process(
    COMMAND ${EXE} con_devconsole 1 ";" map demo ";" wait 300 ";" quit
    WORKING_DIRECTORY ${tree}
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    TIMEOUT 90)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${damage}: quillmere ended with ${rc}\n${out}\n${err}")
  endif()
  if(NOT out MATCHES "WARNING: 'maps/demo.cm' holds no readable world model: the map has no world collision")
    message(FATAL_ERROR "${damage}: no warning about the world collision\n${out}")
  endif()
  if(NOT out MATCHES "sample game: player start")
    message(FATAL_ERROR "${damage}: the map did not load\n${out}")
  endif()
  if(damage STREQUAL "huge" AND NOT out MATCHES "ParseError: collision model: bad number '1e39' in 'maps/demo.cm' line [0-9]+")
    message(FATAL_ERROR "huge: the number is not named with its file and line\n${out}")
  endif()
  if(damage STREQUAL "nan" AND NOT out MATCHES "ParseError: collision model: bad number 'nan' in 'maps/demo.cm' line [0-9]+")
    message(FATAL_ERROR "nan: the number is not named with its file and line\n${out}")
  endif()
  if(damage STREQUAL "truncated" AND NOT out MATCHES "in 'maps/demo.cm' line [0-9]+|SCRIPT: file 'maps/demo.cm' line")
    message(FATAL_ERROR "truncated: the fault is not placed in the file\n${out}")
  endif()
  message("${damage}: the map loads without world collision and says so")
endforeach()
file(REMOVE_RECURSE ${tree})
