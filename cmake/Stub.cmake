# The Windows stub: loader.exe, a 32-bit GUI image without a C runtime that
# loads on every Windows from 95 on. The logic is the same source as the host
# build's; platform/win32 puts the real Windows behind it.

set(LZMA_WIN32_ROOT "${CMAKE_SOURCE_DIR}/build/deps/xz-win32" CACHE PATH
  "Static decoder-only liblzma for i686 Windows (made by scripts/setup.sh)")
set(LOADER_PE_LAYOUT "${LOADER_BIN_DIR}/pe-layout" CACHE FILEPATH
  "The host build's pe-layout tool, run on the stub after linking")
set(LOADER_EXTRA_SOURCES "" CACHE STRING "Further sources linked into the stub (local trials only)")

if(NOT EXISTS "${LZMA_WIN32_ROOT}/lib/liblzma.a")
  message(FATAL_ERROR "No liblzma for Windows at ${LZMA_WIN32_ROOT}; run scripts/setup.sh")
endif()
if(NOT EXISTS "${LOADER_PE_LAYOUT}")
  message(WARNING "No pe-layout at ${LOADER_PE_LAYOUT} yet: build the host tree (same LOADER_BIN_DIR) "
                  "before the stub, or pass -DLOADER_PE_LAYOUT=<path>")
endif()

enable_language(RC)

# Only what the stub names below: CMake's default Windows libraries stay out.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)

file(GLOB LOADER_WIN32_SOURCES CONFIGURE_DEPENDS platform/win32/*.cpp)

add_executable(loader WIN32
  ${LOADER_LOGIC_SOURCES}
  ${LOADER_WIN32_SOURCES}
  run/Entry.cpp
  resources/loader.rc
  ${LOADER_EXTRA_SOURCES})
set_target_properties(loader PROPERTIES
  OUTPUT_NAME loader
  SUFFIX ".exe"
  RUNTIME_OUTPUT_DIRECTORY "${LOADER_BIN_DIR}")
target_include_directories(loader PRIVATE "${CMAKE_SOURCE_DIR}" "${LZMA_WIN32_ROOT}/include")
target_compile_definitions(loader PRIVATE LZMA_API_STATIC)
target_compile_options(loader PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:
    -Os -march=i486 -mtune=generic -Wall -Wextra -Wno-unused-parameter
    -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fno-unwind-tables
    -ffunction-sections -fdata-sections -fno-ident
    -ffreestanding -fno-stack-protector>)
# The memory primitives are written as loops; GCC must not turn those back
# into calls to themselves.
set_source_files_properties(platform/win32/NoRuntime.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")
# The resource script names the manifest and the icon; rebuild it when they change.
set_source_files_properties(resources/loader.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/loader.manifest;${CMAKE_SOURCE_DIR}/resources/loader.ico")
target_link_options(loader PRIVATE
  -nostdlib -nostartfiles -mwindows
  -Wl,-e,_LoaderEntry@0  # run/Entry.cpp, a __stdcall function without arguments
  -Wl,--gc-sections -s -Wl,--no-insert-timestamp
  -Wl,--subsystem,windows:4.0
  -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  # Fewer sections, less padding: see the script.
  "-Wl,-T,${CMAKE_SOURCE_DIR}/cmake/StubSections.ld"
  # Where the bytes go, by object and section (read by bench/StubMap.cpp).
  "-Wl,-Map=${CMAKE_BINARY_DIR}/loader.map")
set_target_properties(loader PROPERTIES LINK_DEPENDS "${CMAKE_SOURCE_DIR}/cmake/StubSections.ld")
# Static imports only from DLLs that every Windows from 95 on has; newer
# functions are looked up at run time.
target_link_libraries(loader PRIVATE
  "${LZMA_WIN32_ROOT}/lib/liblzma.a"
  kernel32 user32 advapi32 shell32 gcc)

# The package locator needs file offsets 128 to 255: move the PE headers to
# 256 and check the layout; a wrong layout fails the build.
add_custom_command(TARGET loader POST_BUILD
  COMMAND "${LOADER_PE_LAYOUT}" "$<TARGET_FILE:loader>"
  COMMENT "Moving the PE headers of loader.exe to offset 256"
  VERBATIM)
