quill_add_fuzzer(kdt LIBS quill_world quill_material quill_system)
