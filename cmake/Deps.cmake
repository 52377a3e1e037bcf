# Third-party libraries: libpng, libjpeg-turbo and libdeflate as built by scripts/bootstrap from Debian's
# source packages, zlib from Debian's libz-mingw-w64-dev. All static.
set(ZQ_DEPS_DIR ${ZQ_DEPS_PREFIX}/${ZQ_ARCH})
if(NOT EXISTS ${ZQ_DEPS_DIR}/.stamp)
  message(FATAL_ERROR "No dependencies in ${ZQ_DEPS_DIR}: run scripts/bootstrap first")
endif()

set(ZQ_MINGW_SYSROOT /usr/${ZQ_TRIPLET})

add_library(zq_zlib STATIC IMPORTED)
set_target_properties(zq_zlib PROPERTIES
  IMPORTED_LOCATION ${ZQ_MINGW_SYSROOT}/lib/libz.a)

add_library(zq_png STATIC IMPORTED)
set_target_properties(zq_png PROPERTIES
  IMPORTED_LOCATION ${ZQ_DEPS_DIR}/lib/libpng16.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZQ_DEPS_DIR}/include
  INTERFACE_LINK_LIBRARIES zq_zlib)

add_library(zq_jpeg STATIC IMPORTED)
set_target_properties(zq_jpeg PROPERTIES
  IMPORTED_LOCATION ${ZQ_DEPS_DIR}/lib/libjpeg.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZQ_DEPS_DIR}/include)

add_library(zq_deflate STATIC IMPORTED)
set_target_properties(zq_deflate PROPERTIES
  IMPORTED_LOCATION ${ZQ_DEPS_DIR}/lib/libdeflate.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZQ_DEPS_DIR}/include)
if(NOT EXISTS ${ZQ_DEPS_DIR}/lib/libdeflate.a)
  message(FATAL_ERROR "No libdeflate in ${ZQ_DEPS_DIR}: run scripts/bootstrap again")
endif()

# Sample images that ship in the source packages: PngSuite (libpng), test photos (libjpeg-turbo).
set(ZQ_PNGSUITE_DIR ${ZQ_DEPS_PREFIX}/src/libpng/contrib)
set(ZQ_JPEG_TESTIMAGES_DIR ${ZQ_DEPS_PREFIX}/src/libjpeg-turbo/testimages)
