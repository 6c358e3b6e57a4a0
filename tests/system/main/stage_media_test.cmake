# Staging the sample content again (every build) must not revert what the engine wrote into the
# staged tree: a saved default.cfg, screenshots. Other content is refreshed.
# -DSCRIPT=<cmake/StageMedia.cmake> -DTMP=<scratch folder>
set(src ${TMP}/content)
set(dst ${TMP}/run/media)
file(REMOVE_RECURSE ${TMP})
file(WRITE ${src}/default.cfg "sample settings\n")
file(WRITE ${src}/glprogs/a.vp "version 1\n")
file(WRITE ${src}/screenshots/shot0000.jpg "sample shot\n")

function(stage)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSRC=${src} -DDST=${dst} -P ${SCRIPT} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "staging failed: ${rc}")
  endif()
endfunction()

function(expect_file path text)
  file(READ ${path} actual)
  if(NOT actual STREQUAL text)
    message(FATAL_ERROR "${path} holds \"${actual}\", expected \"${text}\"")
  endif()
endfunction()

stage()
expect_file(${dst}/default.cfg "sample settings\n")
expect_file(${dst}/glprogs/a.vp "version 1\n")

# The player saves settings and a screenshot; the content changes; the next build stages again.
file(WRITE ${dst}/default.cfg "player settings\n")
file(WRITE ${dst}/screenshots/shot0000.jpg "player shot\n")
file(WRITE ${src}/glprogs/a.vp "version 2\n")
stage()
expect_file(${dst}/default.cfg "player settings\n")
expect_file(${dst}/screenshots/shot0000.jpg "player shot\n")
expect_file(${dst}/glprogs/a.vp "version 2\n")

# A tree without a configuration gets the sample one again.
file(REMOVE ${dst}/default.cfg)
stage()
expect_file(${dst}/default.cfg "sample settings\n")
file(REMOVE_RECURSE ${TMP})
