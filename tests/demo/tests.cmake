# The sample game in the sample map, run headless through the staged engine.
if(TARGET quillmere)
  add_test(NAME demo/map_walk
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:quillmere> -DDIR=${QUILL_STAGE_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/run_map_walk.cmake)
  set_tests_properties(demo/map_walk PROPERTIES
    ENVIRONMENT "${QUILL_TEST_ENV};ASAN_OPTIONS=detect_leaks=0"
    LABELS gl TIMEOUT 200 RESOURCE_LOCK quillmere_stage)
endif()

# The committed sample map matches its generator, its room description and the shadow baker.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND AND TARGET bakeshadows)
  add_test(NAME demo/sample_map_current
    COMMAND ${CMAKE_COMMAND} -DPYTHON=${Python3_EXECUTABLE} -DSRC=${PROJECT_SOURCE_DIR}
      -DBAKE=$<TARGET_FILE:bakeshadows>
      -DTMP=${CMAKE_CURRENT_BINARY_DIR}/sample_map_current -P ${CMAKE_CURRENT_LIST_DIR}/sample_map_current.cmake)
endif()

# The sample map's baked shadows in the engine itself, over the staged sample content.
quill_add_tests(demo/engine LIBS quill_system ENGINE STAGED)
