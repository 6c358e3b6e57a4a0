quill_add_tests(platform LIBS quill_platform)
