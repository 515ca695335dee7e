# The cli tests run the built tintbridge command and read its files with
# OpenImageIO directly.
if(TINTBRIDGE_CLI)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TB_TEST_OIIO REQUIRED IMPORTED_TARGET OpenImageIO)
  add_dependencies(test_${area} tintbridge)
  target_link_libraries(test_${area} PRIVATE PkgConfig::TB_TEST_OIIO)
  target_compile_definitions(test_${area} PRIVATE
    TINTBRIDGE_CLI_TESTS=1
    TINTBRIDGE_CLI_BINARY="$<TARGET_FILE:tintbridge>"
    TINTBRIDGE_BINARY_DIR="${CMAKE_BINARY_DIR}")
else()
  # Without the command (and perhaps without OpenImageIO) only a skipped test
  # is built.
  target_compile_definitions(test_${area} PRIVATE TINTBRIDGE_CLI_TESTS=0)
endif()
