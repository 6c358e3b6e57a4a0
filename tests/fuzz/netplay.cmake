# The sample game's snapshot and game-message readers, built from the module's own source.
quill_add_fuzzer(netplay LIBS quill_network SOURCES ${PROJECT_SOURCE_DIR}/demo/netplay.cpp)
