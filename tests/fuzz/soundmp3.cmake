quill_add_fuzzer(soundmp3 LIBS quill_sound SOURCES ${PROJECT_SOURCE_DIR}/tests/support/memoryiosystem.cpp ${PROJECT_SOURCE_DIR}/tests/sound/support/soundtestio.cpp)
