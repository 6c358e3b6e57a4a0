quill_add_fuzzer(lmf LIBS quill_world quill_material quill_system)
