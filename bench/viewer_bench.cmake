# viewer_bench: opening a photograph's level-5 panorama through the engine against the loading it had
# before, texture load time and memory per welded level, and frames per second through the engine
# against a bare clear-and-flip loop. Run on a 1920 x 1080 screen (the photograph: see viewer_bench.cpp):
#   xvfb-run -a -s "-screen 0 1920x1080x24" ./viewer_bench [work folder] [photograph]
add_executable(viewer_bench ${CMAKE_CURRENT_SOURCE_DIR}/viewer_bench.cpp)
target_link_libraries(viewer_bench PRIVATE Qt6::Gui FreeImage::FreeImage vantaro_engine_texture ${CMAKE_DL_LIBS})
target_compile_definitions(viewer_bench PRIVATE ENGINE_LIBRARY="$<TARGET_FILE:vantaro_engine>"
                           PANO_MESH_FOLDER="${CMAKE_BINARY_DIR}")
add_dependencies(viewer_bench vantaro_engine pano_mesh)
