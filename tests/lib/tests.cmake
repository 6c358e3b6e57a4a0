quill_add_tests(lib LIBS quill_lib)
# Call-stack names resolve only for exported symbols.
if(TARGET test_lib_assert_test)
  set_target_properties(test_lib_assert_test PROPERTIES ENABLE_EXPORTS ON)
endif()
