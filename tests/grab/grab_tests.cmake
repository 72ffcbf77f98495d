if(VANTARO_UNIT_ONLY)
  return()
endif()

include(${PROJECT_SOURCE_DIR}/tests/support/tile_server.cmake)

vantaro_gui_test(grab_run_test SOURCES grab_run_test.cpp LIBS vantaro_app vantaro_tile_server)
