# The library with a DllMain that the Linux layer's module tests load.
add_library(winapi_attach_fixture MODULE ${CMAKE_CURRENT_LIST_DIR}/kernelbase/fixtures/attach_fixture.cpp)
statrix_warnings(winapi_attach_fixture)
target_link_libraries(winapi_attach_fixture PRIVATE winapi_headers)
set_target_properties(winapi_attach_fixture PROPERTIES PREFIX "" OUTPUT_NAME attach_fixture
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
if(TARGET winapi_modules_test)
  add_dependencies(winapi_modules_test winapi_attach_fixture)
  target_compile_definitions(winapi_modules_test PRIVATE
    "ATTACH_FIXTURE_PATH=\"$<TARGET_FILE:winapi_attach_fixture>\"")
endif()

# Long-running reliability tests carry the `soak` label; the snapshot soak also runs under
# valgrind's memcheck for fewer passes (skipped where valgrind is missing or the build has
# sanitizers, which valgrind cannot run).
if(TARGET winapi_process_snapshot_soak_test)
  set_property(TEST winapi_process_snapshot_soak_test APPEND PROPERTY LABELS soak)
  # 2,000 passes keep an ordinary run short; the address-sanitizer build (LeakSanitizer) runs
  # the full 10,000.
  if(STATRIX_SANITIZE STREQUAL "address")
    set(soak_passes 10000)
  else()
    set(soak_passes 2000)
  endif()
  set_property(TEST winapi_process_snapshot_soak_test APPEND PROPERTY ENVIRONMENT "STATRIX_SOAK_PASSES=${soak_passes}")
  set_tests_properties(winapi_process_snapshot_soak_test PROPERTIES TIMEOUT 900)
  if(STATRIX_SANITIZE STREQUAL "")
    add_test(NAME winapi_process_snapshot_soak_valgrind
      COMMAND sh -c "command -v valgrind >/dev/null || exit 77; exec valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=1 \"$0\"" $<TARGET_FILE:winapi_process_snapshot_soak_test>)
    set_tests_properties(winapi_process_snapshot_soak_valgrind PROPERTIES
      LABELS "winapi;soak;valgrind" SKIP_RETURN_CODE 77 TIMEOUT 900
      ENVIRONMENT "STATRIX_SOAK_PASSES=300;STATRIX_BIN=${CMAKE_BINARY_DIR}/bin;STATRIX_SOURCE=${CMAKE_SOURCE_DIR}")
  endif()
endif()
