quill_add_tests(collision LIBS quill_collision)
# The sample map's collision model is read from the source tree.
target_compile_definitions(test_collision_samplemap_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
