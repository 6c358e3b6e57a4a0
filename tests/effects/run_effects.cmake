# Starts the staged engine headless twice on the sample map, once with the sample game's effects and
# once without ("g_demoEffects 0"), and compares the two screenshots: the map is lit the same way in
# both (the camera stands still at the player start), so the pixels that differ are the effects' own
# (sparks, smoke, embers and the flickering light).
function(shoot effects out_file)
  file(REMOVE_RECURSE ${DIR}/media/screenshots)
  execute_process(
    COMMAND ${EXE} con_devconsole 1 ";" g_demoEffects ${effects} ";" map demo ";" wait 5000 ";" screenshot32
      ";" quit
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
  file(COPY_FILE ${shots} ${out_file})
endfunction()

set(with ${DIR}/effects_on.tga)
set(without ${DIR}/effects_off.tga)
shoot(1 ${with})
shoot(0 ${without})

file(READ ${with} header HEX LIMIT 18)
string(SUBSTRING ${header} 24 2 w0)
string(SUBSTRING ${header} 26 2 w1)
string(SUBSTRING ${header} 28 2 h0)
string(SUBSTRING ${header} 30 2 h1)
math(EXPR width "0x${w1}${w0}")
math(EXPR height "0x${h1}${h0}")
math(EXPR rowBytes "${width} * 4")
# Every eighth row of the middle half; the corner with the frame counter is never sampled.
math(EXPR first "${height} / 4")
math(EXPR last "${height} * 3 / 4")
set(changed 0)
set(sampled 0)
foreach(y RANGE ${first} ${last} 8)
  math(EXPR offset "18 + ${y} * ${rowBytes}")
  file(READ ${with} a HEX OFFSET ${offset} LIMIT ${rowBytes})
  file(READ ${without} b HEX OFFSET ${offset} LIMIT ${rowBytes})
  string(REGEX MATCHALL "........" pa "${a}")
  string(REGEX MATCHALL "........" pb "${b}")
  set(i 0)
  foreach(p ${pa})
    list(GET pb ${i} q)
    math(EXPR i "${i} + 1")
    math(EXPR sampled "${sampled} + 1")
    if(NOT p STREQUAL q)
      string(SUBSTRING ${p} 0 2 b1)
      string(SUBSTRING ${p} 2 2 g1)
      string(SUBSTRING ${p} 4 2 r1)
      string(SUBSTRING ${q} 0 2 b2)
      string(SUBSTRING ${q} 2 2 g2)
      string(SUBSTRING ${q} 4 2 r2)
      math(EXPR d "0x${b1} + 0x${g1} + 0x${r1} - 0x${b2} - 0x${g2} - 0x${r2}")
      if(d GREATER 45 OR d LESS -45)
        math(EXPR changed "${changed} + 1")
      endif()
    endif()
  endforeach()
endforeach()
message("screenshots ${width}x${height}: ${changed} of ${sampled} sampled pixels changed by the effects")
if(changed LESS 20)
  message(FATAL_ERROR "the effects left no mark on the sample map")
endif()
