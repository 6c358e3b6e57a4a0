quill_add_tests(system LIBS quill_system)

# Game modules for the engine's boundary tests: a recording module and one
# without "GetGameAPI". Built as plain modules without engine libraries: they
# resolve the foundation from the test executable, which exports it.
add_library(quill_test_game MODULE ${CMAKE_CURRENT_LIST_DIR}/testgame/testgame.cpp)
add_library(quill_test_noapi MODULE ${CMAKE_CURRENT_LIST_DIR}/testgame/nogameapi.cpp)
foreach(module quill_test_game quill_test_noapi)
  target_include_directories(${module} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${module} PRIVATE ${QUILL_WARNINGS})
  set_target_properties(${module} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/modules)
endforeach()

# Suites that load modules link every engine library (exported to the module).
quill_add_tests(system/main LIBS quill_system ENGINE)

set(quill_module_defs
  QUILL_TEST_GAME_MODULE="$<TARGET_FILE:quill_test_game>"
  QUILL_TEST_NOAPI_MODULE="$<TARGET_FILE:quill_test_noapi>")
file(GLOB quill_module_suites CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/systemmanager_test.cpp ${CMAKE_CURRENT_LIST_DIR}/main/*_test.cpp)
foreach(src ${quill_module_suites})
  get_filename_component(name ${src} NAME_WE)
  get_filename_component(dir ${src} DIRECTORY)
  if(dir MATCHES "/main$")
    set(exe test_system_main_${name})
  else()
    set(exe test_system_${name})
  endif()
  target_compile_definitions(${exe} PRIVATE ${quill_module_defs})
  add_dependencies(${exe} quill_test_game quill_test_noapi)
endforeach()

# The staged executable itself, headless: starts, runs frames for a while and
# ends with exit code 0 on "quit" from its command line. Its window carries a
# GL surface (Mesa's leaks at exit), hence the gl label.
if(TARGET quillmere)
  add_test(NAME system/quillmere_run
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:quillmere> -DDIR=${QUILL_STAGE_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/main/run_quillmere.cmake)
  set_tests_properties(system/quillmere_run PROPERTIES
    ENVIRONMENT "${QUILL_TEST_ENV};ASAN_OPTIONS=detect_leaks=0"
    LABELS gl TIMEOUT 120)

  # Hostile and mistaken starts: a long command line, the wrong folder, a missing interface.
  add_test(NAME system/quillmere_hostile_starts
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:quillmere> -DDIR=${QUILL_STAGE_DIR}
      -DTMP=${CMAKE_CURRENT_BINARY_DIR}/hostile_starts -P ${CMAKE_CURRENT_LIST_DIR}/main/run_quillmere_hostile.cmake)
  set_tests_properties(system/quillmere_hostile_starts PROPERTIES
    ENVIRONMENT "${QUILL_TEST_ENV};ASAN_OPTIONS=detect_leaks=0"
    LABELS gl TIMEOUT 400)

  # What a new user runs into: saved settings, engine options, -guionly, a missing map.
  add_test(NAME system/quillmere_user_starts
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:quillmere> -DDIR=${QUILL_STAGE_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/main/run_quillmere_user.cmake)
  set_tests_properties(system/quillmere_user_starts PROPERTIES
    ENVIRONMENT "${QUILL_TEST_ENV};ASAN_OPTIONS=detect_leaks=0"
    LABELS gl TIMEOUT 400 RESOURCE_LOCK quillmere_stage)
endif()

# Restaging the sample content keeps what the engine wrote into the staged tree.
add_test(NAME system/stage_media_keeps_player_files
  COMMAND ${CMAKE_COMMAND} -DSCRIPT=${PROJECT_SOURCE_DIR}/cmake/StageMedia.cmake
    -DTMP=${CMAKE_CURRENT_BINARY_DIR}/stage_media_test -P ${CMAKE_CURRENT_LIST_DIR}/main/stage_media_test.cmake)

# The console end to end runs the engine's window and managers over the staged sample content
# (fonts); it writes its screenshots there, as the staged-engine tests do.
if(TARGET test_system_main_console_e2e_gl_test)
  target_compile_definitions(test_system_main_console_e2e_gl_test PRIVATE QUILL_STAGE_DIR="${QUILL_STAGE_DIR}")
  if(TARGET quill_stage_media)
    add_dependencies(test_system_main_console_e2e_gl_test quill_stage_media)
  endif()
  set_tests_properties(system_main/console_e2e_gl_test PROPERTIES RESOURCE_LOCK quillmere_stage)
endif()

# Damaged sample content through the staged engine: copies of the staged tree, the engine spawned.
if(TARGET test_system_damaged_content_gl_test AND TARGET quillmere)
  target_compile_definitions(test_system_damaged_content_gl_test PRIVATE QUILL_STAGE_DIR="${QUILL_STAGE_DIR}"
    QUILLMERE_EXE="$<TARGET_FILE:quillmere>")
  add_dependencies(test_system_damaged_content_gl_test quillmere)
  if(TARGET quill_stage_media)
    add_dependencies(test_system_damaged_content_gl_test quill_stage_media)
  endif()
  set_tests_properties(system/damaged_content_gl_test PROPERTIES TIMEOUT 900 RESOURCE_LOCK quillmere_stage)
endif()
