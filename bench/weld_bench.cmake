# The welding benchmark on tiles cut from a real photograph (bench/photo.sh fetches it): load, paste and
# save times, peak memory and file sizes, against FreeImage's own save and vips.
add_executable(weld_bench ${CMAKE_CURRENT_LIST_DIR}/weld_bench.cpp)
target_link_libraries(weld_bench PRIVATE vantaro_grab_core)
