quill_add_tests(collision LIBS quill_collision)
# The sample map's collision model is read from the source tree.
target_compile_definitions(test_collision_samplemap_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# End to end: the staged engine on the sample map with its collision file damaged five ways.
if(TARGET quillmere AND TARGET game)
  add_test(NAME collision/damaged_map_collision_file
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:quillmere> -DDIR=${QUILL_STAGE_DIR}
      -DTMP=${CMAKE_CURRENT_BINARY_DIR}/collision_scratch -P ${CMAKE_CURRENT_LIST_DIR}/run_damaged_cm.cmake)
  set_tests_properties(collision/damaged_map_collision_file PROPERTIES
    ENVIRONMENT "${QUILL_TEST_ENV};ASAN_OPTIONS=detect_leaks=0"
    LABELS gl TIMEOUT 400 RESOURCE_LOCK quillmere_stage)
endif()
