# The Linux host build: the loader's logic as a library over the simulated
# Windows, the unit tests and the tools.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LZMA REQUIRED IMPORTED_TARGET liblzma)
find_package(GTest REQUIRED)
enable_testing()

set(LOADER_WARNINGS -Wall -Wextra -Wno-unused-parameter)

add_library(loader_logic STATIC ${LOADER_LOGIC_SOURCES})
target_include_directories(loader_logic PUBLIC "${CMAKE_SOURCE_DIR}")
target_compile_options(loader_logic PRIVATE ${LOADER_WARNINGS})
target_link_libraries(loader_logic PUBLIC PkgConfig::LZMA)

file(GLOB LOADER_SIMULATED_SOURCES CONFIGURE_DEPENDS platform/simulated/*.cpp)
add_library(loader_simulated STATIC ${LOADER_SIMULATED_SOURCES})
target_include_directories(loader_simulated PUBLIC "${CMAKE_SOURCE_DIR}")
target_compile_options(loader_simulated PRIVATE ${LOADER_WARNINGS})
# The logic and the simulated Windows call each other: link them as a group.
target_link_libraries(loader_logic PUBLIC loader_simulated)
target_link_libraries(loader_simulated PUBLIC loader_logic)

foreach(dir IN ITEMS tools/package-writer)
  if(EXISTS "${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt")
    add_subdirectory(${dir})
  endif()
endforeach()

file(GLOB LOADER_TOOL_DIRS CONFIGURE_DEPENDS LIST_DIRECTORIES true tools/*)
foreach(dir IN LISTS LOADER_TOOL_DIRS)
  if(IS_DIRECTORY "${dir}" AND EXISTS "${dir}/CMakeLists.txt" AND NOT dir MATCHES "/package-writer$")
    add_subdirectory(${dir})
  endif()
endforeach()

if(EXISTS "${CMAKE_SOURCE_DIR}/tests/CMakeLists.txt")
  add_subdirectory(tests)
endif()
if(EXISTS "${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt")
  add_subdirectory(bench)
endif()
