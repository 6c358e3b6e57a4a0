quill_add_tests(world LIBS quill_world quill_system)
