# The Windows side: the stub, its core library, and (in the test build) the Wine tests.
option(TALLOWIN_WIN_TESTS "Build the Windows test programs" OFF)

set(TALLOWIN_WARNINGS -Wall -Wextra -Werror -Wno-cast-function-type)
# No -fdata-sections: on this target it gives every zero-initialised global its own
# initialised-data section, and the zeros (some 5.6 KB of tables) then fill the file.
set(TALLOWIN_STUB_FLAGS -fno-exceptions -fno-rtti -Os -ffunction-sections)
# Without exceptions the i686 unwind tables serve nothing (its system unwinding walks
# frames); x86_64 keeps them, since the system unwinds through every frame there.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND TALLOWIN_STUB_FLAGS -fno-asynchronous-unwind-tables)
endif()

# One folder a floor, listed from the ground up; a folder includes only those before it.
file(GLOB CORE_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/src/base/*.cpp ${CMAKE_SOURCE_DIR}/src/state/*.cpp
     ${CMAKE_SOURCE_DIR}/src/data/*.cpp ${CMAKE_SOURCE_DIR}/src/paths/*.cpp
     ${CMAKE_SOURCE_DIR}/src/ui/*.cpp ${CMAKE_SOURCE_DIR}/src/reach/*.cpp
     ${CMAKE_SOURCE_DIR}/src/external/*.cpp ${CMAKE_SOURCE_DIR}/src/passes/*.cpp
     ${CMAKE_SOURCE_DIR}/src/app/*.cpp)
list(REMOVE_ITEM CORE_SOURCES ${CMAKE_SOURCE_DIR}/src/app/main.cpp)

add_library(uninstall_core STATIC ${CORE_SOURCES})
target_include_directories(uninstall_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(uninstall_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX
                           _WIN32_WINNT=0x0601 WINVER=0x0601)
target_compile_options(uninstall_core PRIVATE ${TALLOWIN_WARNINGS} ${TALLOWIN_STUB_FLAGS})
target_link_libraries(uninstall_core PUBLIC ole32 oleaut32 shell32 comctl32 gdi32 user32 advapi32
                      kernel32 uuid)

set(STUB_SOURCES ${CMAKE_SOURCE_DIR}/src/app/main.cpp)
if(EXISTS ${CMAKE_SOURCE_DIR}/src/ui/resources.rc)
  list(APPEND STUB_SOURCES ${CMAKE_SOURCE_DIR}/src/ui/resources.rc)
endif()
add_executable(uninstall WIN32 ${STUB_SOURCES})
# The manifest names the stub's own architecture: 64-bit Windows refuses to start a
# program whose manifest names another one.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MANIFEST_ARCH x86)
else()
  set(MANIFEST_ARCH amd64)
endif()
set(STUB_MANIFEST_DIR ${CMAKE_BINARY_DIR}/manifest)
configure_file(${CMAKE_SOURCE_DIR}/src/ui/uninstall.manifest.in
               ${STUB_MANIFEST_DIR}/uninstall.manifest @ONLY)
target_include_directories(uninstall PRIVATE ${STUB_MANIFEST_DIR})
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/ui/resources.rc PROPERTIES
                            OBJECT_DEPENDS ${STUB_MANIFEST_DIR}/uninstall.manifest)
target_compile_options(uninstall PRIVATE ${TALLOWIN_WARNINGS} ${TALLOWIN_STUB_FLAGS})
target_link_libraries(uninstall PRIVATE uninstall_core)
# System DLLs only: the C and C++ runtimes go in statically.
# The load configuration is no one's reference: keep it through the section collection
# (C symbols carry a leading underscore on i686).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LOAD_CONFIG_SYMBOL __load_config_used)
  set(ENTRY_SYMBOL _StubEntry)
else()
  set(LOAD_CONFIG_SYMBOL _load_config_used)
  set(ENTRY_SYMBOL StubEntry)
endif()
set(STUB_MAP ${CMAKE_BINARY_DIR}/uninstall.map)
# No link time in the header (--no-insert-timestamp): the same sources give the same stub.
target_link_options(uninstall PRIVATE -static -static-libgcc -static-libstdc++ -s
                    -nostartfiles -Wl,-e,${ENTRY_SYMBOL}
                    -Wl,--gc-sections -Wl,--nxcompat -Wl,--dynamicbase -Wl,--no-insert-timestamp
                    -Wl,--require-defined=${LOAD_CONFIG_SYMBOL} -Wl,-Map=${STUB_MAP})
# The linker leaves the load configuration directory empty: point it at the structure.
# Then the locator's offset must hold the exe's own size, where an appended block begins.
add_custom_command(TARGET uninstall POST_BUILD
                   COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/stamp-load-config
                           $<TARGET_FILE:uninstall> ${STUB_MAP}
                   COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/stamp-locator $<TARGET_FILE:uninstall>
                   VERBATIM)

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tools ${CMAKE_BINARY_DIR}/tools)
endif()

if(TALLOWIN_WIN_TESTS)
  get_filename_component(TALLOWIN_BIN_DIR_NAME ${CMAKE_BINARY_DIR} NAME)
  include(${CMAKE_SOURCE_DIR}/cmake/gtest.cmake)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/win ${CMAKE_BINARY_DIR}/tests)
  add_subdirectory(${CMAKE_SOURCE_DIR}/bench ${CMAKE_BINARY_DIR}/bench)
endif()
