# The host side: the portable tool and its tests.
include(${CMAKE_SOURCE_DIR}/cmake/gtest.cmake)
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tools ${CMAKE_BINARY_DIR}/tools)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/host/CMakeLists.txt)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/host ${CMAKE_BINARY_DIR}/tests)
endif()
