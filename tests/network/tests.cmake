quill_add_tests(network LIBS quill_network)

# Two engine processes over loopback: the staged executable and its sample content.
if(TARGET quillmere AND TARGET test_network_twoengines_gl_test)
  target_compile_definitions(test_network_twoengines_gl_test PRIVATE
    QUILL_ENGINE_EXE="$<TARGET_FILE:quillmere>" QUILL_STAGE_DIR="${QUILL_STAGE_DIR}")
  add_dependencies(test_network_twoengines_gl_test quillmere)
  # Up to three engines at once: ctest counts them as three slots. They write screenshots into
  # the staged tree, which the other engine tests share.
  set_tests_properties(network/twoengines_gl_test PROPERTIES PROCESSORS 3 RESOURCE_LOCK quillmere_stage)
endif()
