quill_add_fuzzer(mesh LIBS quill_model quill_material quill_system)
