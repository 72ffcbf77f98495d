# The welding benchmark: load, paste and save times and peak memory, against a crop copy and vips.
add_executable(weld_bench ${CMAKE_CURRENT_LIST_DIR}/weld_bench.cpp)
target_link_libraries(weld_bench PRIVATE vantaro_grab_core)
