# The Windows build: the stub image and the tools that run beside it under Wine.
enable_language(RC)
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")

set(ICON "${CMAKE_CURRENT_BINARY_DIR}/mnicon.ico")
add_custom_command(OUTPUT "${ICON}"
  COMMAND python3 "${CMAKE_SOURCE_DIR}/scripts/make_icon.py" "${ICON}"
  DEPENDS "${CMAKE_SOURCE_DIR}/scripts/make_icon.py")
set(VERSION_RESOURCE "${CMAKE_CURRENT_BINARY_DIR}/version.bin")
add_custom_command(OUTPUT "${VERSION_RESOURCE}"
  COMMAND python3 "${CMAKE_SOURCE_DIR}/scripts/make_version.py" "${VERSION_RESOURCE}"
  DEPENDS "${CMAKE_SOURCE_DIR}/scripts/make_version.py")
set_source_files_properties(src/ui/resources.rc PROPERTIES OBJECT_DEPENDS
  "${ICON};${VERSION_RESOURCE};${CMAKE_SOURCE_DIR}/src/ui/stub.manifest")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_CURRENT_BINARY_DIR} -I${CMAKE_SOURCE_DIR}/src/ui")

# Every stub source is compiled so: small code, no C runtime behind it, and
# only instructions a Pentium has (the oldest machines Windows 95 runs on
# here; a Pentium Pro's CMOV would fault on them).
set(STUB_CXX_OPTIONS -Os -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables -fno-tree-loop-distribute-patterns -ffunction-sections
  -Wall -Wextra -Werror)
# The product is the 32-bit stub. The 64-bit build of the same sources exists
# only for the Wine tests on kernels that cannot run 32-bit programs; its
# entry symbol carries no stdcall decoration.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(STUB_ENTRY StubEntry)
else()
  list(APPEND STUB_CXX_OPTIONS -march=pentium)
  set(STUB_ENTRY _StubEntry@0)
endif()

# The decoder and the CRC-32 are built as objects of their own, so that the
# Wine benchmark (tests/bench) links exactly the code the stub runs. Their
# hot loops are compiled for speed rather than size.
file(GLOB STUB_DECODER_SOURCES CONFIGURE_DEPENDS src/inflate/*.cpp)
list(APPEND STUB_DECODER_SOURCES "${CMAKE_SOURCE_DIR}/src/core/crc32.cpp")
add_library(vantrel_stub_decoder OBJECT ${STUB_DECODER_SOURCES})
target_compile_options(vantrel_stub_decoder PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${STUB_CXX_OPTIONS}>)
set(STUB_FAST_SOURCES src/inflate/decode_loop.cpp src/inflate/huffman_tables.cpp
  src/inflate/dynamic_block.cpp src/inflate/fixed_block.cpp
  src/core/crc32.cpp)
set_source_files_properties(${STUB_FAST_SOURCES} PROPERTIES COMPILE_OPTIONS "-O2")

set(STUB_OTHER_SOURCES ${PROGRAM_SOURCES})
list(REMOVE_ITEM STUB_OTHER_SOURCES ${STUB_DECODER_SOURCES})
add_executable(vantrel-stub-linked WIN32 ${STUB_OTHER_SOURCES}
  $<TARGET_OBJECTS:vantrel_stub_decoder> src/ui/resources.rc)
set_target_properties(vantrel-stub-linked PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
target_compile_options(vantrel-stub-linked PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${STUB_CXX_OPTIONS}>)
target_link_options(vantrel-stub-linked PRIVATE
  -nostdlib -Wl,-e,${STUB_ENTRY} -Wl,--gc-sections -s -mwindows
  # No link time in the image: the same sources give the same stub.
  -Wl,--no-insert-timestamp
  # No base relocations: an EXE is the first module in its address space,
  # so Windows 95 to 2000 always map it at its preferred base, and Vista
  # and later move only images marked DYNAMIC_BASE. Without relocations the
  # linker marks the image RELOCS_STRIPPED (load at the base or not at all),
  # and the 1.5 KB they took are the stub's to use.
  -Wl,--disable-reloc-section -Wl,--disable-dynamicbase)
# advapi32 first: newer import libraries also list some of its functions under
# kernel32, which older systems do not export there.
target_link_libraries(vantrel-stub-linked PRIVATE advapi32 user32 kernel32 gcc)

# The image is padded to exactly the package header offset; the step fails
# when the image is larger or holds a local-header signature.
add_custom_command(OUTPUT "${VANTREL_BIN_DIR}/vantrel-stub.exe"
  COMMAND python3 "${CMAKE_SOURCE_DIR}/scripts/finish_stub.py"
          "$<TARGET_FILE:vantrel-stub-linked>" "${VANTREL_BIN_DIR}/vantrel-stub.exe"
  DEPENDS vantrel-stub-linked "${CMAKE_SOURCE_DIR}/scripts/finish_stub.py")
add_custom_target(vantrel-stub ALL DEPENDS "${VANTREL_BIN_DIR}/vantrel-stub.exe")

foreach(dir tests/wine tests/bench)
  if(EXISTS "${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt")
    add_subdirectory(${dir})
  endif()
endforeach()
