# Stages the sample content into the runnable tree: cmake -DSRC=<content> -DDST=<tree> -P StageMedia.cmake
# Files the engine itself writes there (configurations saved by "writecfg", screenshots) belong to
# the player once they exist: they are staged only when the tree has none, never overwritten.
# Everything else is copied when it differs.
if(NOT SRC OR NOT DST)
  message(FATAL_ERROR "StageMedia.cmake needs SRC and DST")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${SRC}" "${SRC}/*")
foreach(relative IN LISTS files)
  set(target "${DST}/${relative}")
  string(TOLOWER "${relative}" lower)
  if(lower MATCHES "\\.cfg$" OR lower MATCHES "^screenshots/")
    if(EXISTS "${target}")
      continue()
    endif()
  endif()
  get_filename_component(directory "${target}" DIRECTORY)
  file(MAKE_DIRECTORY "${directory}")
  file(COPY_FILE "${SRC}/${relative}" "${target}" ONLY_IF_DIFFERENT)
endforeach()
