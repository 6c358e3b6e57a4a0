# Starts the staged engine headless, loads the sample map (its steps start the sample effects),
# saves a screenshot and checks that spark pixels (hot orange: strong red, little blue) show in the
# middle of the picture. The particle statistics are drawn too, in white, which the test ignores.
file(REMOVE_RECURSE ${DIR}/media/screenshots)
execute_process(
  COMMAND ${EXE} con_devconsole 1 ";" r_debugParticles 1 ";" map demo ";" wait 300 ";" screenshot32 ";" quit
  WORKING_DIRECTORY ${DIR}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 100)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "quillmere ended with ${rc}\n${out}\n${err}")
endif()
file(GLOB shots ${DIR}/media/screenshots/*.tga)
list(LENGTH shots count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one screenshot, found ${count}\n${out}")
endif()
file(READ ${shots} header HEX LIMIT 18)
string(SUBSTRING ${header} 24 2 w0)
string(SUBSTRING ${header} 26 2 w1)
string(SUBSTRING ${header} 28 2 h0)
string(SUBSTRING ${header} 30 2 h1)
math(EXPR width "0x${w1}${w0}")
math(EXPR height "0x${h1}${h0}")
math(EXPR rowBytes "${width} * 4")
# Every second row of the middle half.
math(EXPR first "${height} / 4")
math(EXPR last "${height} * 3 / 4")
set(sparks 0)
foreach(y RANGE ${first} ${last} 2)
  math(EXPR offset "18 + ${y} * ${rowBytes}")
  file(READ ${shots} row HEX OFFSET ${offset} LIMIT ${rowBytes})
  string(REGEX MATCHALL "........" pixels "${row}")
  foreach(p ${pixels})
    string(SUBSTRING ${p} 0 2 b)
    string(SUBSTRING ${p} 4 2 r)
    math(EXPR hot "0x${r} - 0x${b}")
    if(hot GREATER 100)
      math(EXPR sparks "${sparks} + 1")
    endif()
  endforeach()
endforeach()
message("screenshot ${width}x${height}: ${sparks} spark pixels sampled")
if(sparks LESS 5)
  message(FATAL_ERROR "no effect particles in the screenshot\n${out}")
endif()
