quill_add_fuzzer(bsp LIBS quill_world quill_system)
