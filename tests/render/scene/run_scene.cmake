# Starts the staged engine headless, lets the sample game draw its scene for a few frames, saves
# a screenshot and checks that the middle row of the picture holds the scene (pixels brighter than
# the black clear colour) while the top-left corner keeps the clear colour. The wait runs from the
# start, so it covers the intro video (one second) and the first frames.
file(REMOVE_RECURSE ${DIR}/media/screenshots)
execute_process(
  COMMAND ${EXE} con_devconsole 1 ";" wait 3000 ";" screenshot32 ";" quit
  WORKING_DIRECTORY ${DIR}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 90)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "quillmere ended with ${rc}\n${out}\n${err}")
endif()
file(GLOB shots ${DIR}/media/screenshots/*.tga)
list(LENGTH shots count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one screenshot, found ${count}\n${out}")
endif()
file(READ ${shots} header HEX LIMIT 18)
string(SUBSTRING ${header} 24 4 wlo)
string(SUBSTRING ${header} 28 4 hlo)
math(EXPR width "0x${wlo}" OUTPUT_FORMAT DECIMAL)
# Little-endian 16-bit fields: swap the two bytes.
string(SUBSTRING ${wlo} 0 2 w0)
string(SUBSTRING ${wlo} 2 2 w1)
string(SUBSTRING ${hlo} 0 2 h0)
string(SUBSTRING ${hlo} 2 2 h1)
math(EXPR width "0x${w1}${w0}")
math(EXPR height "0x${h1}${h0}")
math(EXPR rowBytes "${width} * 4")
math(EXPR middle "18 + (${height} / 2) * ${rowBytes}")
file(READ ${shots} row HEX OFFSET ${middle} LIMIT ${rowBytes})
string(REGEX MATCHALL "........" pixels "${row}")
set(lit 0)
foreach(p ${pixels})
  string(SUBSTRING ${p} 0 2 b)
  string(SUBSTRING ${p} 2 2 g)
  string(SUBSTRING ${p} 4 2 r)
  math(EXPR sum "0x${b} + 0x${g} + 0x${r}")
  if(sum GREATER 60)
    math(EXPR lit "${lit} + 1")
  endif()
endforeach()
file(READ ${shots} corner HEX OFFSET 18 LIMIT 4)
string(SUBSTRING ${corner} 0 6 cornerRgb)
message("screenshot ${width}x${height}: ${lit} scene pixels on the middle row, corner ${cornerRgb}")
if(lit LESS 10)
  message(FATAL_ERROR "the middle row of the screenshot shows no scene")
endif()
if(NOT cornerRgb STREQUAL "000000")
  message(FATAL_ERROR "the corner is not the clear colour")
endif()
