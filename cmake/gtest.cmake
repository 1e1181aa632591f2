# GoogleTest from the sources that Debian's googletest package ships.
set(GTEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
add_library(gtest_local STATIC ${GTEST_SOURCE_DIR}/src/gtest-all.cc)
target_include_directories(gtest_local SYSTEM PUBLIC ${GTEST_SOURCE_DIR}/include
                           PRIVATE ${GTEST_SOURCE_DIR})
if(WIN32)
  target_link_options(gtest_local PUBLIC -static -static-libgcc -static-libstdc++)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(gtest_local PUBLIC Threads::Threads)
endif()
add_library(gtest_main_local STATIC ${GTEST_SOURCE_DIR}/src/gtest_main.cc)
target_link_libraries(gtest_main_local PUBLIC gtest_local)
