quill_add_fuzzer(cm LIBS quill_collision)
