quill_add_tests(effects LIBS quill_effects quill_scene quill_backend quill_model quill_material quill_texture quill_system)
# The runtime reads "r_noEffectUpdate" and "r_debugParticles": every object of the system library,
# so each statically declared variable registers.
file(GLOB quill_effects_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/effects/*_test.cpp)
foreach(src ${quill_effects_tests})
  get_filename_component(name ${src} NAME_WE)
  target_sources(test_effects_${name} PRIVATE $<TARGET_OBJECTS:quill_system>)
endforeach()

# End to end: the sample map's effects reach the screen of the staged engine.
if(TARGET quillmere AND TARGET game)
  add_test(NAME effects/sample_effects_screenshot
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:quillmere> -DDIR=${QUILL_STAGE_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/run_effects.cmake)
  set_tests_properties(effects/sample_effects_screenshot PROPERTIES
    ENVIRONMENT "${QUILL_TEST_ENV};ASAN_OPTIONS=detect_leaks=0"
    LABELS gl TIMEOUT 150 RESOURCE_LOCK quillmere_stage)
endif()

# The sample effects the game places, traces and applies, each against a picture without effects,
# in the engine itself on a made-up frame clock.
quill_add_tests(effects/engine LIBS quill_system ENGINE STAGED)
