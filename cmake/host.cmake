# The host build: the program over the POSIX platform layer, the packaging
# tool, and every test tier that runs without Wine.
option(VANTREL_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
option(VANTREL_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
# Off: plain libFuzzer, several times faster, for runs of many millions of
# inputs where the sanitized smoke runs have already looked for what only
# the sanitizers see.
option(VANTREL_FUZZ_SANITIZE "Fuzz targets with AddressSanitizer and UBSan" ON)

add_compile_options(-Wall -Wextra)
if(VANTREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  # The sanitized tests run the decoder with the stub's 32-bit bit buffer,
  # the plain ones with the build machine's 64-bit one: both paths are tried.
  add_compile_definitions(VANTREL_DECODER_WORD32)
endif()
if(VANTREL_FUZZ AND VANTREL_FUZZ_SANITIZE)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VANTREL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(VANTREL_FUZZ)
  # The decoder writes a batch per window: fuzz inputs are small, and the
  # batch's end and the move after it are where they should often reach.
  add_compile_definitions(VANTREL_DECODER_BATCH_WINDOWS=1)
endif()

# The host dialog manager builds its windows from the resource script's
# templates, read from the script at build time.
set(DIALOG_TABLE "${CMAKE_BINARY_DIR}/generated/dialog_templates.inc")
add_custom_command(OUTPUT "${DIALOG_TABLE}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/generated"
  COMMAND python3 "${CMAKE_SOURCE_DIR}/scripts/dialog_script.py"
          "${CMAKE_SOURCE_DIR}/src/ui/resources.rc" "${CMAKE_SOURCE_DIR}/src/ui/resource_ids.h"
          --host-table "${DIALOG_TABLE}"
  DEPENDS "${CMAKE_SOURCE_DIR}/scripts/dialog_script.py" "${CMAKE_SOURCE_DIR}/src/ui/resources.rc"
          "${CMAKE_SOURCE_DIR}/src/ui/resource_ids.h")

file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS src/platform/*.cpp)
add_library(vantrel_platform STATIC ${PLATFORM_SOURCES} "${DIALOG_TABLE}")
target_include_directories(vantrel_platform PUBLIC src/platform/include src/platform)
target_include_directories(vantrel_platform PRIVATE "${CMAKE_BINARY_DIR}/generated")

# The stub's own procedures, for the host. The CRC-32's loop over long
# buffers is written for the compiler to vectorise, which GCC does at -O3.
set_source_files_properties(src/core/crc32.cpp PROPERTIES COMPILE_OPTIONS "-O3")
add_library(vantrel_program STATIC ${PROGRAM_SOURCES})
target_link_libraries(vantrel_program PUBLIC vantrel_platform)
target_include_directories(vantrel_program PUBLIC src)

# The real stub, built by the cross configuration into the same bin folder:
# the signing tests use it and `make install` installs it.
set(VANTREL_STUB_EXE "${VANTREL_BIN_DIR}/vantrel-stub.exe" CACHE FILEPATH "The stub image")

enable_testing()
# A GoogleTest suite of the folder's *.cpp files, each test run by ctest.
function(vantrel_test_suite name)
  find_package(GTest REQUIRED)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} vantrel_test_machine GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
  target_compile_definitions(${name} PRIVATE
    VANTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VANTREL_BIN_DIR="${VANTREL_BIN_DIR}")
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
# The stub's tiers and the packer's depend only downwards, and the packer
# reads nothing the stub shows a user; the check itself catches a fault
# planted in a copy of the tree.
add_test(NAME source_tiers COMMAND python3 "${CMAKE_SOURCE_DIR}/scripts/check_tiers.py"
         "${CMAKE_SOURCE_DIR}")
add_test(NAME source_tiers_planted COMMAND sh "${CMAKE_SOURCE_DIR}/tests/pack/tier_check_test.sh"
         "${CMAKE_SOURCE_DIR}")
foreach(dir tools/pack tests/support tests/unit tests/pack tests/image tests/bench tests/fuzz)
  if(EXISTS "${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt")
    add_subdirectory(${dir})
  endif()
endforeach()
