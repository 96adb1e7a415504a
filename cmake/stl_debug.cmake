# Checked standard library (preset linux-debug-stl): every container and iterator of this
# project's code checks its use (invalidated iterators, ranges, bounds) and aborts on misuse.
#
# The checked containers have another layout than the plain ones, so everything that shares
# them with this project's code is built in this tree: googletest from its sources
# (tests/CMakeLists.txt). The one exception is the system's compiled HTTP library, built with
# plain containers: the file that uses it shares no container with the rest and keeps the
# plain ones with bounds checks (statrix_plain_stl), and the one test program that calls it
# directly is left out (tests/CMakeLists.txt).

# Builds `file` (a path below `dir`, the directory that defines its target) with the plain
# containers, bounds-checked.
function(statrix_plain_stl dir file)
  if(STATRIX_STL_DEBUG)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${dir}/${file})
      message(FATAL_ERROR "statrix_plain_stl: ${dir}/${file} does not exist (moved?)")
    endif()
    set_source_files_properties(${CMAKE_SOURCE_DIR}/${dir}/${file} DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}
                                PROPERTIES COMPILE_OPTIONS "-U_GLIBCXX_DEBUG;-D_GLIBCXX_ASSERTIONS")
  endif()
endfunction()

if(STATRIX_STL_DEBUG)
  if(STATRIX_WINDOWS OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "STATRIX_STL_DEBUG needs the GNU standard library of the Linux tree")
  endif()
  add_compile_definitions(_GLIBCXX_DEBUG)
endif()
