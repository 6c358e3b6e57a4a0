# The committed sample map is what the generator makes from the room description and the shadow
# baker then writes back with its lights' prelight volumes: make both steps into a scratch folder
# and compare every file.
file(REMOVE_RECURSE ${TMP})
file(MAKE_DIRECTORY ${TMP})
execute_process(
  COMMAND ${PYTHON} ${SRC}/demo/tools/makemap.py ${SRC}/demo/tools/demo.rooms ${TMP}/demo
  RESULT_VARIABLE rc
  ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "makemap.py failed: ${err}")
endif()
execute_process(
  COMMAND ${BAKE} ${SRC}/demo ${TMP}/demo.bsp
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "bakeshadows failed: ${out}${err}")
endif()
# Every light of the sample map casts: each one's volume is in the baked map.
foreach(light light_0 light_1)
  file(STRINGS ${TMP}/demo.bsp volume REGEX "^shadowModel { /\\* name = \\*/ \"_prelight_${light}\"")
  if(NOT volume)
    message(FATAL_ERROR "the baked map has no prelight volume for ${light}: ${out}")
  endif()
endforeach()
foreach(ext bsp kdt lmf cm)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${TMP}/demo.${ext} ${SRC}/demo/media/maps/demo.${ext}
    RESULT_VARIABLE same)
  if(NOT same EQUAL 0)
    message(FATAL_ERROR "demo/media/maps/demo.${ext} is not what demo/tools/makemap.py and bakeshadows make: run them again (see demo/tools/bakeshadows.cpp)")
  endif()
endforeach()
