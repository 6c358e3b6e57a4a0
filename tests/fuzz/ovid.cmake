quill_add_fuzzer(ovid LIBS quill_texture quill_system)
