# The engine's window, managers and staged sample content, in process: 2D drawing blended by its
# materials over the sample scene, and a refused material parsed once however often it is drawn.
quill_add_tests(render/material/engine LIBS quill_system ENGINE)
if(TARGET test_render_material_engine_drawing_engine_gl_test)
  target_compile_definitions(test_render_material_engine_drawing_engine_gl_test PRIVATE
    QUILL_STAGE_DIR="${QUILL_STAGE_DIR}")
  if(TARGET quill_stage_media)
    add_dependencies(test_render_material_engine_drawing_engine_gl_test game quill_stage_media)
  endif()
  set_tests_properties(render_material_engine/drawing_engine_gl_test PROPERTIES RESOURCE_LOCK quillmere_stage)
endif()
