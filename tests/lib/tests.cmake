quill_add_tests(lib LIBS quill_lib)
