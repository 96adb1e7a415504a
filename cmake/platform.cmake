# Platform choice: the one place (with the seam header directory it selects) that knows
# whether we build the Windows DLLs or the Linux shared objects.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(STATRIX_WINDOWS ON)
  set(STATRIX_PLATFORM_DIR windows)
  add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
                          FMT_HEADER_ONLY)
  # Wine has no mingw runtime DLLs: link the GCC runtime and winpthread statically.
  add_link_options(-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread
                   -Wl,--no-whole-archive,-Bdynamic)
  set(STATRIX_EXPORT_DEF "__declspec(dllexport)")
  set(STATRIX_ENTRY_DEF "")
  set(VARNEL_EXPORT_DEF "__declspec(dllexport)")
  set(VARNEL_IMPORT_DEF "__declspec(dllimport)")
  # Header-only third-party libraries for the Windows tree: only their headers, never /usr/include.
  set(STATRIX_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
  foreach(lib fmt nlohmann)
    file(COPY /usr/include/${lib} DESTINATION ${STATRIX_THIRD_PARTY_INCLUDE})
  endforeach()
  add_library(third_party INTERFACE)
  target_include_directories(third_party SYSTEM INTERFACE ${STATRIX_THIRD_PARTY_INCLUDE})
  # cpp-httplib as one header (Debian ships it split, with a Linux-only shared object).
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-httplib ${STATRIX_THIRD_PARTY_INCLUDE}
                  RESULT_VARIABLE httplib_rc)
  if(NOT httplib_rc EQUAL 0)
    message(FATAL_ERROR "cpp-httplib header for the Windows tree not available (scripts/fetch-httplib)")
  endif()
  add_library(httplib INTERFACE)
  target_link_libraries(httplib INTERFACE third_party ws2_32)
else()
  set(STATRIX_WINDOWS OFF)
  set(STATRIX_PLATFORM_DIR linux)
  set(CMAKE_CXX_VISIBILITY_PRESET hidden)
  set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
  set(STATRIX_EXPORT_DEF "__attribute__((visibility(\"default\")))")
  set(STATRIX_ENTRY_DEF "__attribute__((visibility(\"default\")))")
  set(VARNEL_EXPORT_DEF "__attribute__((visibility(\"default\")))")
  set(VARNEL_IMPORT_DEF "__attribute__((visibility(\"default\")))")
  find_package(fmt REQUIRED)
  find_package(nlohmann_json REQUIRED)
  find_package(Threads REQUIRED)
  add_library(third_party INTERFACE)
  target_link_libraries(third_party INTERFACE fmt::fmt nlohmann_json::nlohmann_json)
  find_package(PkgConfig REQUIRED)
  # cpp-httplib is only the tests' HTTP client: a tree without tests does not need it.
  if(STATRIX_BUILD_TESTS)
    pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    add_library(httplib INTERFACE)
    target_link_libraries(httplib INTERFACE PkgConfig::CPP_HTTPLIB)
  endif()
endif()

# Output layout fixed for outside checks: <build>/bin holds the runner, the module and the library.
function(statrix_output target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
endfunction()

# Tests: on Linux plain executables; in the Windows tree they run under Wine through the
# emulator wrapper (scripts/wine-run), labelled "wine".
function(statrix_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  statrix_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} statrix_gtest)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # Several tests load the module or drive the runner: both must be built first.
  add_dependencies(${name} statrix varnel-host)
  add_test(NAME ${name} COMMAND ${name})
  set(labels ${T_LABELS})
  if(STATRIX_WINDOWS)
    list(APPEND labels wine)
  endif()
  # Under Wine the test programs find varnel.dll through WINEPATH.
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT 300
    ENVIRONMENT "STATRIX_BIN=${CMAKE_BINARY_DIR}/bin;STATRIX_SOURCE=${CMAKE_SOURCE_DIR};WINEPATH=${CMAKE_BINARY_DIR}/bin")
endfunction()
