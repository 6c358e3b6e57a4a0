quill_add_tests(render/model LIBS quill_model quill_system)
# The sample-content suite reads the demo's meshes and materials from the source tree.
target_compile_definitions(test_render_model_samples_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
