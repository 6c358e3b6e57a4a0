quill_add_tests(render/texture LIBS quill_texture quill_system)
