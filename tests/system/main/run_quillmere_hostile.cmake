# The staged executable started the ways users start it by mistake or on purpose: a command line
# longer than the command buffer, from the wrong folder, with an interface that does not exist.
# Each must end on its own, with an exit status and messages that say what happened.
# -DEXE=<quillmere> -DDIR=<staged tree> -DTMP=<scratch folder>

# Runs the engine with a shell-quoted argument text: a lone ";" (a statement separator for the
# engine) cannot travel through a CMake list.
function(run_engine name directory arguments)
  execute_process(
    COMMAND sh -c "exec '${EXE}' ${arguments}"
    WORKING_DIRECTORY ${directory}
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    TIMEOUT 90)
  set(${name}_rc "${rc}" PARENT_SCOPE)
  set(${name}_out "${out}" PARENT_SCOPE)
  set(${name}_err "${err}" PARENT_SCOPE)
endfunction()

# About 2,000 characters of statements, then "quit": run statement by statement, the engine ends.
string(REPEAT "com_showFPS 0 ';' " 130 long)
run_engine(long ${DIR} "con_devconsole 1 ';' ${long} quit")
if(NOT long_rc STREQUAL "0")
  message(FATAL_ERROR "a long command line did not end the engine: ${long_rc}\n${long_err}")
endif()

# One statement longer than the buffer is refused on standard error; the rest still runs.
string(REPEAT "x" 1100 huge)
run_engine(huge ${DIR} "echo_huge ${huge} ';' quit")
if(NOT huge_rc STREQUAL "0" OR NOT huge_err MATCHES "longer than the [0-9]+ the command buffer holds")
  message(FATAL_ERROR "a too long statement: ${huge_rc}\n${huge_err}")
endif()

# What was printed before the echo was turned on comes first; colour escapes never reach the terminal.
run_engine(echo ${DIR} "con_devconsole 1 ';' no_such_command ';' quit")
if(NOT echo_rc STREQUAL "0")
  message(FATAL_ERROR "the echo run failed: ${echo_rc}\n${echo_err}")
endif()
if(NOT echo_out MATCHES "----- IOManager::initialize -----")
  message(FATAL_ERROR "start-up messages were lost:\n${echo_out}")
endif()
if(NOT echo_out MATCHES "Command: \"no_such_command\" not found." OR echo_out MATCHES "\\^9")
  message(FATAL_ERROR "the echo shows colour escapes or misses the message:\n${echo_out}")
endif()

# Started outside the staged tree: no game module there. A non-zero status and a message naming it.
file(MAKE_DIRECTORY ${TMP}/elsewhere)
run_engine(elsewhere ${TMP}/elsewhere "quit")
if(elsewhere_rc STREQUAL "0" OR NOT elsewhere_err MATCHES "game\\.so")
  message(FATAL_ERROR "started elsewhere: status ${elsewhere_rc}\n${elsewhere_err}")
endif()

# An interface that does not exist: a non-zero status and why.
run_engine(gui ${DIR} "-guionly guis/no_such.gui")
if(gui_rc STREQUAL "0" OR NOT gui_err MATCHES "-guionly: the interface 'guis/no_such.gui' cannot be opened")
  message(FATAL_ERROR "-guionly with a missing interface: status ${gui_rc}\n${gui_err}")
endif()
