quill_add_tests(network LIBS quill_network)
