# Interop tests read our files with OpenColorIO. Debian's CMake package for it
# points at the wrong prefix, so it is found through pkg-config.
find_package(PkgConfig)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(TINTBRIDGE_OCIO IMPORTED_TARGET OpenColorIO)
endif()
if(TINTBRIDGE_OCIO_FOUND)
  target_link_libraries(test_${area} PRIVATE PkgConfig::TINTBRIDGE_OCIO)
  target_compile_definitions(test_${area} PRIVATE TINTBRIDGE_HAVE_OCIO=1)
else()
  message(WARNING "OpenColorIO not found with pkg-config: its interop tests are skipped")
endif()
