# The sample tile service with the tests' tiles and faults on top, for tests and benchmarks.
include_guard(GLOBAL)
add_library(vantaro_tile_server STATIC ${CMAKE_CURRENT_LIST_DIR}/tile_server.cpp)
target_include_directories(vantaro_tile_server PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vantaro_tile_server PUBLIC vantaro_sample_core FreeImage::FreeImage)
