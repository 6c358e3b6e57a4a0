# The engine's window, managers and staged sample content, in process: the intro video's frames
# on the screen and its end, and a damaged image in the sample scene.
quill_add_tests(render/texture/engine LIBS quill_system ENGINE)
if(TARGET test_render_texture_engine_images_engine_gl_test)
  target_compile_definitions(test_render_texture_engine_images_engine_gl_test PRIVATE
    QUILL_STAGE_DIR="${QUILL_STAGE_DIR}")
  if(TARGET quill_stage_media)
    add_dependencies(test_render_texture_engine_images_engine_gl_test game quill_stage_media)
  endif()
  set_tests_properties(render_texture_engine/images_engine_gl_test PROPERTIES RESOURCE_LOCK quillmere_stage)
endif()
