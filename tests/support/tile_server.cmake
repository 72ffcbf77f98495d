# The loopback HTTPS tile server and its throw-away certificate authority, for tests and benchmarks.
include_guard(GLOBAL)
find_package(OpenSSL REQUIRED)
find_package(Threads REQUIRED)
add_library(vantaro_tile_server STATIC ${CMAKE_CURRENT_LIST_DIR}/tile_server.cpp ${CMAKE_CURRENT_LIST_DIR}/test_ca.cpp)
target_include_directories(vantaro_tile_server PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vantaro_tile_server PUBLIC OpenSSL::SSL OpenSSL::Crypto FreeImage::FreeImage Threads::Threads)
