quill_add_fuzzer(netchannel LIBS quill_network)
