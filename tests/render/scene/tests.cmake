quill_add_tests(render/scene LIBS quill_scene quill_collision quill_model quill_backend quill_material quill_texture quill_system)
# The lighting suite draws with the demo's own GPU programs, read from the source tree.
target_compile_definitions(test_render_scene_lighting_gl_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_compile_definitions(test_render_scene_demoscene_gl_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# Views into textures and the glow read the demo's programs; interfaces on surfaces are real ones.
target_compile_definitions(test_render_scene_views_gl_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_link_libraries(test_render_scene_views_gl_test PRIVATE quill_ui)
target_compile_definitions(test_render_scene_shadows_gl_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# The prelight volumes of the static-shadow builder are drawn against the renderer's own.
target_link_libraries(test_render_scene_shadows_gl_test PRIVATE quill_world)
# The renderer's own per-view effects model is filled by a real effects manager.
target_link_libraries(test_render_scene_frame_gl_test PRIVATE quill_effects)
# Lit effects draw with the demo's own interaction programs.
target_compile_definitions(test_render_scene_frame_gl_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_sources(test_render_scene_frame_gl_test PRIVATE $<TARGET_OBJECTS:quill_system>)
# End to end: the engine draws the sample game's scene and a screenshot shows it.
if(TARGET quillmere AND TARGET game)
  add_test(NAME render_scene/sample_scene_screenshot
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:quillmere> -DDIR=${QUILL_STAGE_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/run_scene.cmake)
  set_tests_properties(render_scene/sample_scene_screenshot PROPERTIES
    ENVIRONMENT "${QUILL_TEST_ENV};ASAN_OPTIONS=detect_leaks=0"
    LABELS gl TIMEOUT 120 RESOURCE_LOCK quillmere_stage)
endif()

# The map's baked light and its models in the engine itself, over the staged sample content.
quill_add_tests(render/scene/engine LIBS quill_system ENGINE STAGED)
