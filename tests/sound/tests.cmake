quill_add_tests(sound LIBS quill_sound quill_system)

# The test plug-in the reader tests load from "plugins".
add_library(quill_test_soundplugin MODULE ${CMAKE_CURRENT_SOURCE_DIR}/sound/plugin/toneplugin.cpp)
target_include_directories(quill_test_soundplugin PRIVATE ${PROJECT_SOURCE_DIR})
set_target_properties(quill_test_soundplugin PROPERTIES PREFIX "")

file(GLOB quill_sound_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sound/*_test.cpp)
foreach(src ${quill_sound_tests})
  get_filename_component(name ${src} NAME_WE)
  target_compile_definitions(test_sound_${name} PRIVATE
    QUILL_SOUND_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/sound/fixtures"
    QUILL_SOUND_PLUGIN="$<TARGET_FILE:quill_test_soundplugin>")
  add_dependencies(test_sound_${name} quill_test_soundplugin)
endforeach()

# The manager tests read the engine's console variables: every object of the system library, so
# each statically declared variable registers.
foreach(t sndmanager_test soundanalysis_test engine_test)
  if(TARGET test_sound_${t})
    target_sources(test_sound_${t} PRIVATE $<TARGET_OBJECTS:quill_system>)
  endif()
endforeach()
if(TARGET test_sound_engine_test)
  target_compile_definitions(test_sound_engine_test PRIVATE QUILL_DEMO_MEDIA="${PROJECT_SOURCE_DIR}/demo/media")
endif()

# The engine's start-up with the staged sample content (every engine library, the game module,
# the media), the mixer rendering by hand.
quill_add_tests(sound/engine LIBS quill_system ENGINE STAGED)
