# The libraries the Windows build links, made for Windows at configure time.
#
# bzip2, xz-utils (liblzma), wavpack and libssh2 come from Debian's source packages:
# `apt-get source --download-only <package>` into <build>/_deps/<package>,
# the original tarball unpacked there, then built with this build's own
# toolchain and installed to <build>/_deps/prefix. Every step is skipped when
# its result is already present, so the work happens once per build folder.
# zlib is Debian's libz-mingw-w64-dev, GoogleTest is built from the sources
# in /usr/src/googletest. The targets carry the names the Linux build's
# find_package and pkg-config give, so the rest of the build does not care.

set(_kivo_deps ${CMAKE_BINARY_DIR}/_deps)
set(_kivo_prefix ${_kivo_deps}/prefix)
file(MAKE_DIRECTORY ${_kivo_prefix}/include ${_kivo_prefix}/lib)

# Sets OUT to the unpacked source tree of Debian's source package PACKAGE.
function(_kivo_source_package PACKAGE OUT)
  set(dir ${_kivo_deps}/${PACKAGE})
  file(GLOB trees LIST_DIRECTORIES true ${dir}/src/*)
  if(NOT trees)
    file(GLOB tarball ${dir}/*.orig.tar.*)
    if(NOT tarball)
      message(STATUS "Windows: fetching Debian's ${PACKAGE} source package")
      file(MAKE_DIRECTORY ${dir})
      execute_process(COMMAND apt-get source --download-only ${PACKAGE}
                      WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
      file(GLOB tarball ${dir}/*.orig.tar.*)
      if(NOT tarball)
        message(FATAL_ERROR "Windows: `apt-get source --download-only ${PACKAGE}` failed (${rc}): ${err}\n"
                "Run scripts/setup (it adds the deb-src entry).")
      endif()
    endif()
    list(FILTER tarball EXCLUDE REGEX "\\.asc$")
    list(GET tarball 0 tarball)
    file(ARCHIVE_EXTRACT INPUT ${tarball} DESTINATION ${dir}/src)
    file(GLOB trees LIST_DIRECTORIES true ${dir}/src/*)
  endif()
  list(GET trees 0 tree)
  set(${OUT} ${tree} PARENT_SCOPE)
endfunction()

# Configures, builds and installs the CMake project in SOURCE to the prefix,
# once: STAMP names a file the install leaves behind.
function(_kivo_cmake_package NAME SOURCE STAMP)
  if(EXISTS ${_kivo_prefix}/${STAMP})
    return()
  endif()
  message(STATUS "Windows: building ${NAME}")
  set(build ${_kivo_deps}/${NAME}-build)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${build} -G Ninja
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX=${_kivo_prefix} -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF
            ${ARGN}
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(rc EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target install -j2
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  endif()
  if(NOT rc EQUAL 0 OR NOT EXISTS ${_kivo_prefix}/${STAMP})
    message(FATAL_ERROR "Windows: building ${NAME} failed (${rc}): ${err}")
  endif()
endfunction()

# bzip2: a handful of C files, compiled here.
_kivo_source_package(bzip2 _bzip2_src)
add_library(kivo_bz2 STATIC
  ${_bzip2_src}/blocksort.c ${_bzip2_src}/huffman.c ${_bzip2_src}/crctable.c
  ${_bzip2_src}/randtable.c ${_bzip2_src}/compress.c ${_bzip2_src}/decompress.c
  ${_bzip2_src}/bzlib.c)
target_compile_options(kivo_bz2 PRIVATE -w)
file(MAKE_DIRECTORY ${_kivo_deps}/bzip2/include)
file(COPY_FILE ${_bzip2_src}/bzlib.h ${_kivo_deps}/bzip2/include/bzlib.h ONLY_IF_DIFFERENT)
target_include_directories(kivo_bz2 SYSTEM PUBLIC ${_kivo_deps}/bzip2/include)
add_library(BZip2::BZip2 ALIAS kivo_bz2)

# liblzma through xz-utils' own CMake build (the library only).
_kivo_source_package(xz-utils _xz_src)
_kivo_cmake_package(xz ${_xz_src} lib/liblzma.a -DCREATE_XZ_SYMLINKS=OFF -DCREATE_LZMA_SYMLINKS=OFF)
add_library(LibLZMA::LibLZMA STATIC IMPORTED GLOBAL)
set_target_properties(LibLZMA::LibLZMA PROPERTIES
  IMPORTED_LOCATION ${_kivo_prefix}/lib/liblzma.a
  INTERFACE_INCLUDE_DIRECTORIES ${_kivo_prefix}/include
  INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)

# wavpack through its own CMake build (the library only).
_kivo_source_package(wavpack _wavpack_src)
_kivo_cmake_package(wavpack ${_wavpack_src} lib/libwavpack.a -DWAVPACK_BUILD_PROGRAMS=OFF
                    -DWAVPACK_BUILD_DOCS=OFF -DWAVPACK_INSTALL_DOCS=OFF -DWAVPACK_BUILD_COOLEDIT_PLUGIN=OFF
                    -DWAVPACK_BUILD_WINAMP_PLUGIN=OFF -DWAVPACK_ENABLE_LIBCRYPTO=OFF)
add_library(PkgConfig::WAVPACK STATIC IMPORTED GLOBAL)
set_target_properties(PkgConfig::WAVPACK PROPERTIES
  IMPORTED_LOCATION ${_kivo_prefix}/lib/libwavpack.a
  INTERFACE_INCLUDE_DIRECTORIES ${_kivo_prefix}/include/wavpack
  INTERFACE_COMPILE_DEFINITIONS WAVPACK_STATIC)

# zlib for Windows from Debian's package.
find_package(ZLIB REQUIRED)

# libssh2 through its own CMake build, with the system's CNG for its crypto
# (no OpenSSL for Windows needed), for SFTP.
_kivo_source_package(libssh2 _libssh2_src)
_kivo_cmake_package(libssh2 ${_libssh2_src} lib/libssh2.a -DCRYPTO_BACKEND=WinCNG
                    -DBUILD_EXAMPLES=OFF -DENABLE_ZLIB_COMPRESSION=OFF)
add_library(PkgConfig::SSH2 STATIC IMPORTED GLOBAL)
set_target_properties(PkgConfig::SSH2 PROPERTIES
  IMPORTED_LOCATION ${_kivo_prefix}/lib/libssh2.a
  INTERFACE_INCLUDE_DIRECTORIES ${_kivo_prefix}/include
  INTERFACE_LINK_LIBRARIES "ws2_32;bcrypt;crypt32")

# GoogleTest from its sources, as the Linux package ships them.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${_kivo_deps}/googletest-build EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

# Wine makes its prefix on the first start (some seconds); make it now, so
# that tests starting side by side find it ready.
if(NOT EXISTS ${CMAKE_BINARY_DIR}/wineprefix/system.reg)
  message(STATUS "Windows: making the Wine prefix")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
                          WINEDEBUG=-all ${KIVO_WINE} wineboot --init
                  OUTPUT_QUIET ERROR_QUIET)
endif()
