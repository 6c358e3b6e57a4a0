quill_add_tests(ui LIBS quill_ui quill_material quill_texture quill_system)

# The engine with the staged sample content (every engine library, the game module, the media).
quill_add_tests(ui/engine LIBS quill_system ENGINE STAGED)

# The sample interfaces themselves, read from the source tree.
foreach(t uicontent_test)
  if(TARGET test_ui_${t})
    target_compile_definitions(test_ui_${t} PRIVATE QUILL_DEMO_MEDIA="${PROJECT_SOURCE_DIR}/demo/media")
  endif()
endforeach()

# The render window on llvmpipe, drawn by the real render manager with the demo's content.
quill_add_tests(ui/render LIBS quill_ui quill_scene quill_collision quill_model quill_backend quill_material
  quill_texture quill_system)
if(TARGET test_ui_render_window_gl_test)
  target_compile_definitions(test_ui_render_window_gl_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
