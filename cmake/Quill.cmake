# Build helpers shared by every folder.

set(QUILL_WARNINGS -Wall -Wextra -Wno-unused-parameter)
# CI turns warnings into errors (scripts/test.sh) so none come back; developer builds keep them
# as warnings while work is under way.
option(QUILL_WERROR "treat compiler warnings as errors" OFF)
if(QUILL_WERROR)
  list(APPEND QUILL_WARNINGS -Werror)
endif()

# Never -ffast-math: NaN checks and exact float bits matter.
set(QUILL_SAN_FLAGS "")
if(QUILL_SANITIZE STREQUAL "address")
  set(QUILL_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(QUILL_SANITIZE STREQUAL "thread")
  set(QUILL_SAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT QUILL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUILL_SANITIZE must be address, thread or empty")
endif()
if(QUILL_SAN_FLAGS)
  add_compile_options(${QUILL_SAN_FLAGS})
  add_link_options(${QUILL_SAN_FLAGS})
endif()

# Every engine library, in link order (lowest layer last).
set_property(GLOBAL PROPERTY QUILL_ENGINE_LIBS "")

# quill_add_library(<target> [DEPS <targets...>] [PACKAGES <imported targets...>]
#                   [DIRS <extra sub-folders...>])
# Compiles every .cpp of the calling folder (not its sub-folders, except DIRS).
function(quill_add_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;PACKAGES;DIRS" ${ARGN})
  set(sources "")
  set(headers "")
  foreach(dir . ${ARG_DIRS})
    file(GLOB s CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.c)
    file(GLOB h CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h)
    list(APPEND sources ${s})
    list(APPEND headers ${h})
  endforeach()
  if(NOT sources)
    # A folder whose first source has not landed yet still forms a library.
    set(empty ${CMAKE_CURRENT_BINARY_DIR}/${target}_empty.cpp)
    file(WRITE ${empty} "// ${target} has no sources yet.\n")
    list(APPEND sources ${empty})
  endif()
  add_library(${target} STATIC ${sources} ${headers})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${QUILL_WARNINGS})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} ${ARG_PACKAGES})
  get_property(libs GLOBAL PROPERTY QUILL_ENGINE_LIBS)
  set_property(GLOBAL PROPERTY QUILL_ENGINE_LIBS ${target} ${libs})
endfunction()

# Links an executable with every object of every engine library, so statically
# declared objects (console variables, commands) of otherwise unreferenced
# files stay in; the libraries themselves bring their usage requirements.
function(quill_link_engine target)
  get_property(libs GLOBAL PROPERTY QUILL_ENGINE_LIBS)
  foreach(lib ${libs})
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${lib}>)
  endforeach()
  target_link_libraries(${target} PRIVATE ${libs})
  # The game module resolves the foundation from the executable: one copy of
  # the memory manager and the string pools per process.
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()
