quill_add_tests(render/model LIBS quill_model quill_system)
