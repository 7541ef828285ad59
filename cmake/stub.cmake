# The Windows build: the stub image and the tools that run beside it under Wine.
enable_language(RC)
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")

set(ICON "${CMAKE_CURRENT_BINARY_DIR}/mnicon.ico")
add_custom_command(OUTPUT "${ICON}"
  COMMAND python3 "${CMAKE_SOURCE_DIR}/scripts/make_icon.py" "${ICON}"
  DEPENDS "${CMAKE_SOURCE_DIR}/scripts/make_icon.py")
set_source_files_properties(src/ui/resources.rc PROPERTIES OBJECT_DEPENDS "${ICON}")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_CURRENT_BINARY_DIR} -I${CMAKE_SOURCE_DIR}/src/ui")

add_executable(vantrel-stub-linked WIN32 ${PROGRAM_SOURCES} src/ui/resources.rc)
set_target_properties(vantrel-stub-linked PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
target_compile_options(vantrel-stub-linked PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fno-tree-loop-distribute-patterns -ffunction-sections
  -Wall -Wextra -Werror>)
target_link_options(vantrel-stub-linked PRIVATE
  -nostdlib -Wl,-e,_StubEntry@0 -Wl,--gc-sections -s -mwindows
  # No link time in the image: the same sources give the same stub.
  -Wl,--no-insert-timestamp)
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

if(EXISTS "${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt")
  add_subdirectory(tests/wine)
endif()
