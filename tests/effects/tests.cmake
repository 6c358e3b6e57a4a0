quill_add_tests(effects LIBS quill_effects quill_scene quill_backend quill_model quill_material quill_texture quill_system)
# The runtime reads "r_noEffectUpdate" and "r_debugParticles": every object of the system library,
# so each statically declared variable registers.
file(GLOB quill_effects_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/effects/*_test.cpp)
foreach(src ${quill_effects_tests})
  get_filename_component(name ${src} NAME_WE)
  target_sources(test_effects_${name} PRIVATE $<TARGET_OBJECTS:quill_system>)
endforeach()
