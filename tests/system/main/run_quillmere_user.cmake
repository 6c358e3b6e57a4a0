# The staged executable as a new user starts it: what "writecfg" saves, the options the engine
# reads itself, "-guionly", and a map that does not exist.
# -DEXE=<quillmere> -DDIR=<staged tree>

function(run_engine name arguments)
  execute_process(
    COMMAND sh -c "exec '${EXE}' ${arguments}"
    WORKING_DIRECTORY ${DIR}
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    TIMEOUT 90)
  if(NOT rc STREQUAL "0")
    message(FATAL_ERROR "'${arguments}' ended with ${rc}\n${out}\n${err}")
  endif()
  set(${name}_out "${out}${err}" PARENT_SCOPE)
endfunction()

# "writecfg" keeps what the sample configuration sets, the glow switched off among it.
file(REMOVE ${DIR}/media/user_check.cfg)
run_engine(save "writecfg user_check.cfg ';' quit")
file(READ ${DIR}/media/user_check.cfg saved)
file(REMOVE ${DIR}/media/user_check.cfg)
if(NOT saved MATCHES "r_skipBloomFilter +\"1\"" OR NOT saved MATCHES "com_showFPS +\"1\"")
  message(FATAL_ERROR "writecfg lost the sample configuration's settings:\n${saved}")
endif()

# "-wndname" and its value are not console text: the statement after them still runs.
run_engine(title "-wndname Foo con_devconsole 1 ';' quit")
if(title_out MATCHES "not found" OR NOT title_out MATCHES "-- DEV CONSOLE --")
  message(FATAL_ERROR "-wndname swallowed the next statement:\n${title_out}")
endif()

# "-guionly" shows its interface: the picture is not black, and its name is no console text.
file(GLOB old ${DIR}/media/screenshots/guionly_check*)
if(old)
  file(REMOVE ${old})
endif()
run_engine(gui "-guionly guis/mainmenu.gui con_devconsole 1 ';' wait 1500 ';' screenshot32 guionly_check ';' quit")
file(GLOB shots ${DIR}/media/screenshots/guionly_check*.tga)
if(NOT shots OR gui_out MATCHES "not found")
  message(FATAL_ERROR "-guionly: no screenshot or its option ran as console text:\n${gui_out}")
endif()
list(GET shots 0 shot)
file(READ ${shot} pixels OFFSET 18 HEX)
file(REMOVE ${shots})
# 32-bit pixels: a black screen is nothing but "000000ff".
string(REPLACE "000000ff" "" lit "${pixels}")
string(LENGTH "${pixels}" all)
string(LENGTH "${lit}" litLength)
math(EXPR share "${litLength} * 100 / ${all}")
if(share LESS 2)
  message(FATAL_ERROR "-guionly: the interface does not show (${share}% of the picture is lit)")
endif()

# A map that does not exist says so on the console; the render entities and lights the game keeps
# for its scene are not used after the failed load freed them, from the menu or from a loaded map.
run_engine(nomap "con_devconsole 1 ';' wait 100 ';' map nosuchmap ';' wait 300 ';' quit")
if(NOT nomap_out MATCHES "nosuchmap" OR nomap_out MATCHES "RenderManager::[A-Za-z]+: no (entity|light)")
  message(FATAL_ERROR "a missing map:\n${nomap_out}")
endif()
run_engine(mapthennomap "con_devconsole 1 ';' map demo ';' wait 1500 ';' map nosuchmap ';' wait 1000 ';' quit")
if(NOT mapthennomap_out MATCHES "player start" OR NOT mapthennomap_out MATCHES "could not load map 'nosuchmap'"
   OR mapthennomap_out MATCHES "RenderManager::[A-Za-z]+: no (entity|light)")
  message(FATAL_ERROR "a missing map after the sample map:\n${mapthennomap_out}")
endif()
