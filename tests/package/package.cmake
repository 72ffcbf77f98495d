# The Debian package, made by CPack from this build as part of the suite, and its contents.
get_filename_component(cmake_folder ${CMAKE_COMMAND} DIRECTORY)
add_test(NAME package_build
         COMMAND ${cmake_folder}/cpack -G DEB -B ${CMAKE_BINARY_DIR}/package
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
set_tests_properties(package_build PROPERTIES FIXTURES_SETUP vantaro_package LABELS package TIMEOUT 300)
add_test(NAME package_contents_test
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_contents_test.sh ${CMAKE_BINARY_DIR}/package ${PROJECT_VERSION})
set_tests_properties(package_contents_test PROPERTIES FIXTURES_REQUIRED vantaro_package LABELS package TIMEOUT 120)
