quill_add_tests(collision LIBS quill_collision)
