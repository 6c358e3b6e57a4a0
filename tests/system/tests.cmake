quill_add_tests(system LIBS quill_system)
