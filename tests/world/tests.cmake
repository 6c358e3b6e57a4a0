quill_add_tests(world LIBS quill_world quill_model quill_material quill_collision quill_system)
# The sample-map tests read demo/media from the source tree.
foreach(t world_bspload_test world_bspquery_test world_kdworld_test world_lightgrid_test world_mapentities_test world_commonload_test world_worldrender_test)
  if(TARGET test_${t})
    target_compile_definitions(test_${t} PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  endif()
endforeach()
# The static shadow passes register models with the model manager and read material traits.
if(TARGET test_world_staticshadows_test)
  target_link_libraries(test_world_staticshadows_test PRIVATE quill_model quill_material quill_system)
endif()
