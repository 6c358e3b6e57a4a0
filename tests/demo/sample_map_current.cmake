# The committed sample map is what the generator makes from the room description: regenerate it
# into a scratch folder and compare every file.
file(REMOVE_RECURSE ${TMP})
file(MAKE_DIRECTORY ${TMP})
execute_process(
  COMMAND ${PYTHON} ${SRC}/demo/tools/makemap.py ${SRC}/demo/tools/demo.rooms ${TMP}/demo
  RESULT_VARIABLE rc
  ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "makemap.py failed: ${err}")
endif()
foreach(ext bsp kdt lmf cm)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${TMP}/demo.${ext} ${SRC}/demo/media/maps/demo.${ext}
    RESULT_VARIABLE same)
  if(NOT same EQUAL 0)
    message(FATAL_ERROR "demo/media/maps/demo.${ext} is not what demo/tools/makemap.py makes: run it again")
  endif()
endforeach()
