# The 3D engine component on its own: the mesh format and pano.mesh, and real drawing on the X server.

vantaro_unit_test(engine_mesh_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/engine_mesh_test.cpp LIBS vantaro_engine_core)
target_compile_definitions(engine_mesh_test PRIVATE COMMITTED_PANO_MESH="${PROJECT_SOURCE_DIR}/data/pano.mesh")

if(VANTARO_UNIT_ONLY)
  return()
endif()

vantaro_gui_test(engine_render_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/engine_render_test.cpp
                 LIBS FreeImage::FreeImage ${CMAKE_DL_LIBS})
target_include_directories(engine_render_test PRIVATE ${PROJECT_SOURCE_DIR}/preview/engine)
target_compile_definitions(engine_render_test PRIVATE ENGINE_LIBRARY="$<TARGET_FILE:vantaro_engine>"
                           PANO_MESH_FOLDER="${CMAKE_BINARY_DIR}")
add_dependencies(engine_render_test vantaro_engine pano_mesh)

# Textures from image files, read back level by level.
vantaro_gui_test(engine_texture_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/engine_texture_test.cpp
                 LIBS vantaro_engine_texture)
