# Checked standard library (preset linux-debug-stl): every container and iterator of this
# project's code checks its use (invalidated iterators, ranges, bounds) and aborts on misuse.
#
# The checked containers have another layout than the plain ones, so everything that shares
# them with this project's code is built in this tree: googletest from its sources
# (tests/CMakeLists.txt). The system's compiled C++ libraries that do share containers (yaml-cpp
# behind --web-config, cpp-httplib in one client test) keep the plain layout: the test programs
# that drive them are left out of this tree (tests/CMakeLists.txt).

if(STATRIX_STL_DEBUG)
  if(STATRIX_WINDOWS OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "STATRIX_STL_DEBUG needs the GNU standard library of the Linux tree")
  endif()
  add_compile_definitions(_GLIBCXX_DEBUG)
endif()
