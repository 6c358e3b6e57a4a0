# Light materials drawn by the render manager on llvmpipe with the demo's interaction programs
# (read from the source tree), declarations found through the declaration manager.
quill_add_tests(render/material/lights LIBS quill_scene quill_collision quill_model quill_backend quill_material
  quill_texture quill_system)
if(TARGET test_render_material_lights_falloff_gl_test)
  target_compile_definitions(test_render_material_lights_falloff_gl_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
