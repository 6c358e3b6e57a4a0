quill_add_tests(render/device LIBS quill_device)
# The sample programs are read from the source tree (compile paths may be relative under ccache).
if(TARGET test_render_device_device_gl_test)
  target_compile_definitions(test_render_device_device_gl_test PRIVATE QUILL_SOURCE_ROOT="${PROJECT_SOURCE_DIR}/")
endif()
