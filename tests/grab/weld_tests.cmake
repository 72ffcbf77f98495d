# Generated tiles and colour checks shared by the welding tests.
add_library(vantaro_weld_fixture STATIC ${CMAKE_CURRENT_LIST_DIR}/weld_fixture.cpp)
target_link_libraries(vantaro_weld_fixture PUBLIC vantaro_grab_core)

include(${PROJECT_SOURCE_DIR}/tests/support/tile_server.cmake)
vantaro_unit_test(grab_weld_image_test SOURCES weld_image_test.cpp LIBS vantaro_weld_fixture vantaro_tile_server)
vantaro_unit_test(grab_png_file_test SOURCES png_file_test.cpp LIBS vantaro_grab_core PkgConfig::DEFLATE)

if(VANTARO_UNIT_ONLY)
  return()
endif()

vantaro_gui_test(grab_weld_test SOURCES weld_test.cpp LIBS vantaro_grab vantaro_weld_fixture)

# The whole grab and weld path against the loopback tile server.
vantaro_gui_test(grab_weld_end_to_end_test SOURCES weld_end_to_end_test.cpp
                 LIBS vantaro_app vantaro_tile_server vantaro_weld_fixture)
