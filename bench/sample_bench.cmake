# The sample tile service benchmark: drawing a tile, and a level-5 grab through it against welding.
add_executable(sample_bench ${CMAKE_CURRENT_LIST_DIR}/sample_bench.cpp)
target_link_libraries(sample_bench PRIVATE vantaro_grab_core vantaro_sample_core)
