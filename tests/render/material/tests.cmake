quill_add_tests(render/material LIBS quill_material quill_texture quill_system)
# The sample-content test reads demo/media from the source tree.
target_compile_definitions(test_render_material_material_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
