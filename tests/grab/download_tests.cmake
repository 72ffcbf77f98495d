include(${PROJECT_SOURCE_DIR}/tests/support/tile_server.cmake)

vantaro_unit_test(grab_tiles_test SOURCES tiles_test.cpp LIBS vantaro_grab_core)
vantaro_unit_test(grab_download_test SOURCES download_test.cpp LIBS vantaro_grab_core vantaro_tile_server)
