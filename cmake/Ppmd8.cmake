# The PPMd variant I (revision 1) decoder of the LZMA SDK, as Debian's 7zip
# source package carries it, built as the small static library kivo_ppmd8.
#
# The sources never enter the repository. At configure time the source
# package is fetched with `apt-get source --download-only 7zip` into
# <build>/_deps/7zip, its original tarball is unpacked there (none of
# Debian's patches touch these files) and the few files the decoder needs are
# copied to <build>/_deps/ppmd8. Both steps are skipped when their result is
# already present. KIVO_PPMD8_SOURCE_DIR may name an unpacked source tree
# instead (its top folder or its C/ folder), for offline builds.

set(KIVO_PPMD8_SOURCE_DIR "" CACHE PATH
    "Unpacked 7-Zip source tree holding C/Ppmd8.c (empty: fetch Debian's 7zip source package)")

set(_ppmd8_files Ppmd8.c Ppmd8Dec.c Ppmd8.h Ppmd.h CpuArch.h 7zTypes.h Precomp.h Compiler.h)
set(_ppmd8_dir ${CMAKE_BINARY_DIR}/_deps/ppmd8)

# Sets OUT to the folder holding Ppmd8.c under ROOT (ROOT itself or ROOT/C).
function(_ppmd8_c_dir ROOT OUT)
  if(EXISTS ${ROOT}/C/Ppmd8.c)
    set(${OUT} ${ROOT}/C PARENT_SCOPE)
  elseif(EXISTS ${ROOT}/Ppmd8.c)
    set(${OUT} ${ROOT} PARENT_SCOPE)
  else()
    set(${OUT} "" PARENT_SCOPE)
  endif()
endfunction()

# Fetches and unpacks Debian's 7zip source package; sets OUT to its C/ folder.
function(_ppmd8_fetch OUT)
  set(deps ${CMAKE_BINARY_DIR}/_deps/7zip)
  file(GLOB unpacked LIST_DIRECTORIES true ${deps}/src/*/C/Ppmd8.c)
  if(NOT unpacked)
    file(GLOB tarball ${deps}/*.orig.tar.*)
    if(NOT tarball)
      message(STATUS "Ppmd8: fetching Debian's 7zip source package")
      file(MAKE_DIRECTORY ${deps})
      execute_process(COMMAND apt-get source --download-only 7zip
                      WORKING_DIRECTORY ${deps}
                      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
      file(GLOB tarball ${deps}/*.orig.tar.*)
      if(NOT tarball)
        message(FATAL_ERROR "Ppmd8: `apt-get source --download-only 7zip` failed (${rc}): ${err}\n"
                "Run scripts/setup (it adds the deb-src entry), or set KIVO_PPMD8_SOURCE_DIR.")
      endif()
    endif()
    list(GET tarball 0 tarball)
    file(REMOVE_RECURSE ${deps}/src)
    file(ARCHIVE_EXTRACT INPUT ${tarball} DESTINATION ${deps}/src PATTERNS "*/C/*")
    file(GLOB unpacked ${deps}/src/*/C/Ppmd8.c)
    if(NOT unpacked)
      message(FATAL_ERROR "Ppmd8: ${tarball} holds no C/Ppmd8.c")
    endif()
  endif()
  list(GET unpacked 0 unpacked)
  get_filename_component(cdir ${unpacked} DIRECTORY)
  set(${OUT} ${cdir} PARENT_SCOPE)
endfunction()

if(KIVO_PPMD8_SOURCE_DIR)
  _ppmd8_c_dir(${KIVO_PPMD8_SOURCE_DIR} _ppmd8_src)
  if(NOT _ppmd8_src)
    message(FATAL_ERROR "Ppmd8: no Ppmd8.c in KIVO_PPMD8_SOURCE_DIR=${KIVO_PPMD8_SOURCE_DIR}")
  endif()
else()
  _ppmd8_fetch(_ppmd8_src)
endif()

# Copy only the decoder's files; a copy from another source tree replaces them.
file(MAKE_DIRECTORY ${_ppmd8_dir})
foreach(f ${_ppmd8_files})
  if(NOT EXISTS ${_ppmd8_src}/${f})
    message(FATAL_ERROR "Ppmd8: ${_ppmd8_src} lacks ${f}")
  endif()
  file(COPY_FILE ${_ppmd8_src}/${f} ${_ppmd8_dir}/${f} ONLY_IF_DIFFERENT)
endforeach()

add_library(kivo_ppmd8 STATIC ${_ppmd8_dir}/Ppmd8.c ${_ppmd8_dir}/Ppmd8Dec.c)
set_target_properties(kivo_ppmd8 PROPERTIES C_STANDARD 99 POSITION_INDEPENDENT_CODE ON)
# Third-party code: built with the preset's flags but none of our warnings.
target_compile_options(kivo_ppmd8 PRIVATE -w)
target_include_directories(kivo_ppmd8 SYSTEM PUBLIC ${_ppmd8_dir})
