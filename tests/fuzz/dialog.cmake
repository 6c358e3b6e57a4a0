quill_add_fuzzer(dialog LIBS quill_ui quill_material quill_texture quill_system SOURCES ${PROJECT_SOURCE_DIR}/tests/support/memoryiosystem.cpp)
