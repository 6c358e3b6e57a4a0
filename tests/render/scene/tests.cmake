quill_add_tests(render/scene LIBS quill_scene quill_collision quill_model quill_backend quill_material quill_texture quill_system)
# End to end: the engine draws the sample game's scene and a screenshot shows it.
if(TARGET quillmere AND TARGET game)
  add_test(NAME render_scene/sample_scene_screenshot
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:quillmere> -DDIR=${QUILL_STAGE_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/run_scene.cmake)
  set_tests_properties(render_scene/sample_scene_screenshot PROPERTIES
    ENVIRONMENT "${QUILL_TEST_ENV};ASAN_OPTIONS=detect_leaks=0"
    LABELS gl TIMEOUT 120 RESOURCE_LOCK quillmere_stage)
endif()
