# The tile download benchmark: kept connection against fresh connections, with a delaying relay.
include(${PROJECT_SOURCE_DIR}/tests/support/tile_server.cmake)
add_executable(grab_bench ${CMAKE_CURRENT_LIST_DIR}/grab_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/grab_relay.cpp)
target_link_libraries(grab_bench PRIVATE vantaro_grab_core vantaro_tile_server)
