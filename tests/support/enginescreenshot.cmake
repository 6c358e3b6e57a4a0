# Screenshots of the staged engine for the scripts that run it headless (cmake -P, with EXE the
# engine and DIR the staged tree): quill_engine_screenshot runs the engine once on a console line
# and keeps the one screenshot it wrote; quill_tga_size reads a screenshot's size.

# quill_engine_screenshot(<copy to> <output variable> <console words...>): "|" among the words
# separates console commands (a semicolon cannot stand in a list). The engine must end with status
# 0 and write exactly one screenshot, which is copied to <copy to>; the staged tree's screenshot
# folder is emptied before and after, since other engine tests count what is in it. The engine's
# standard output goes to <output variable>.
function(quill_engine_screenshot copy_to output_var)
  set(command ${EXE})
  foreach(word ${ARGN})
    if(word STREQUAL "|")
      list(APPEND command "\\;")
    else()
      list(APPEND command "${word}")
    endif()
  endforeach()
  file(REMOVE_RECURSE ${DIR}/media/screenshots)
  execute_process(
    COMMAND ${command}
    WORKING_DIRECTORY ${DIR}
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    TIMEOUT 100)
  if(NOT rc EQUAL 0)
    file(REMOVE_RECURSE ${DIR}/media/screenshots)
    message(FATAL_ERROR "quillmere ended with ${rc}\n${out}\n${err}")
  endif()
  file(GLOB shots ${DIR}/media/screenshots/*.tga)
  list(LENGTH shots count)
  if(NOT count EQUAL 1)
    file(REMOVE_RECURSE ${DIR}/media/screenshots)
    message(FATAL_ERROR "expected one screenshot, found ${count}\n${out}")
  endif()
  file(COPY_FILE ${shots} ${copy_to})
  file(REMOVE_RECURSE ${DIR}/media/screenshots)
  set(${output_var} "${out}" PARENT_SCOPE)
endfunction()

# quill_tga_size(<file> <width variable> <height variable>): the little-endian 16-bit fields at
# bytes 12 and 14 of the header.
function(quill_tga_size file width_var height_var)
  file(READ ${file} header HEX LIMIT 18)
  string(SUBSTRING ${header} 24 2 w0)
  string(SUBSTRING ${header} 26 2 w1)
  string(SUBSTRING ${header} 28 2 h0)
  string(SUBSTRING ${header} 30 2 h1)
  math(EXPR width "0x${w1}${w0}")
  math(EXPR height "0x${h1}${h0}")
  set(${width_var} ${width} PARENT_SCOPE)
  set(${height_var} ${height} PARENT_SCOPE)
endfunction()
