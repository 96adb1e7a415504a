# The library with a DllMain that the Linux layer's module tests load.
add_library(winapi_attach_fixture MODULE ${CMAKE_CURRENT_LIST_DIR}/fixtures/attach_fixture.cpp)
statrix_warnings(winapi_attach_fixture)
target_link_libraries(winapi_attach_fixture PRIVATE winapi_headers)
set_target_properties(winapi_attach_fixture PROPERTIES PREFIX "" OUTPUT_NAME attach_fixture
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
if(TARGET winapi_modules_test)
  add_dependencies(winapi_modules_test winapi_attach_fixture)
  target_compile_definitions(winapi_modules_test PRIVATE
    "ATTACH_FIXTURE_PATH=\"$<TARGET_FILE:winapi_attach_fixture>\"")
endif()
