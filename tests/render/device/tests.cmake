quill_add_tests(render/device LIBS quill_device)
