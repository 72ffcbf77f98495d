# The viewer's side of the preview: its plain logic, the engine's loading, start-up without a usable
# engine, and real viewings.

# Stand-in engine components, each as libvantaro_engine.so in a folder of its own.
function(viewer_fake_engine folder)
  cmake_parse_arguments(ARG "" "" "DEFINES" ${ARGN})
  set(target viewer_fake_engine_${folder})
  add_library(${target} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/viewer_fake_engine.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/preview)
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME vantaro_engine
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/viewer_engines/${folder})
endfunction()
viewer_fake_engine(good)
viewer_fake_engine(no_entry DEFINES VIEWER_FAKE_NO_ENTRY)
viewer_fake_engine(other_version DEFINES VIEWER_FAKE_VERSION=519)
viewer_fake_engine(init_fails DEFINES VIEWER_FAKE_INIT=0)

vantaro_unit_test(viewer_core_test SOURCES viewer_core_test.cpp LIBS vantaro_preview_core)
target_compile_definitions(viewer_core_test PRIVATE VIEWER_FAKE_ENGINES="${CMAKE_BINARY_DIR}/viewer_engines")
add_dependencies(viewer_core_test viewer_fake_engine_good viewer_fake_engine_no_entry
                 viewer_fake_engine_other_version viewer_fake_engine_init_fails)

if(VANTARO_UNIT_ONLY)
  return()
endif()

# vantaro_gui_test, with the program placed in a folder of its own so that the engine component
# beside it can be chosen.
function(viewer_gui_test name folder)
  vantaro_gui_test(${name} SOURCES ${ARGN} ${CMAKE_CURRENT_SOURCE_DIR}/viewer_support.cpp LIBS vantaro_app)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})
endfunction()

viewer_gui_test(viewer_startup_no_engine_test viewer_no_engine viewer_startup_test.cpp)
viewer_gui_test(viewer_startup_other_engine_test viewer_other_engine viewer_startup_test.cpp)
viewer_fake_engine(other_engine_beside DEFINES VIEWER_FAKE_VERSION=519)
set_target_properties(viewer_fake_engine_other_engine_beside PROPERTIES
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/viewer_other_engine)
add_dependencies(viewer_startup_other_engine_test viewer_fake_engine_other_engine_beside)

# Real viewings need the real component: a copy of it beside the test program, and no pano.mesh there.
if(TARGET vantaro_engine)
  viewer_gui_test(viewer_test viewer_gui viewer_test.cpp)
  target_link_libraries(viewer_test PRIVATE FreeImage::FreeImage)
  target_compile_definitions(viewer_test PRIVATE VIEWER_MESH="${PROJECT_SOURCE_DIR}/data/pano.mesh")
  add_custom_command(TARGET viewer_test POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vantaro_engine> ${CMAKE_BINARY_DIR}/viewer_gui/)
endif()
