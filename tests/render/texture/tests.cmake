quill_add_tests(render/texture LIBS quill_texture quill_system)
# The image script runs from the source tree (compile paths may be relative under ccache).
if(TARGET test_render_texture_foreign_images_test)
  target_compile_definitions(test_render_texture_foreign_images_test PRIVATE
    QUILL_FOREIGN_IMAGES_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/support/make_foreign_images.sh")
endif()
