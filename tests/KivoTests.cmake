# kivo_add_tests(<folder-name> LIBS <libs...>): every *Test.cpp in the calling
# folder becomes one GoogleTest executable <folder>_<File>, registered with CTest.
# Files named after NOT_ON_WINDOWS are left out of the Windows build: they
# still work through POSIX calls directly and wait for their Win32 port.
function(kivo_add_tests prefix)
  cmake_parse_arguments(ARG "" "" "LIBS;NOT_ON_WINDOWS" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  if(WIN32)
    foreach(name ${ARG_NOT_ON_WINDOWS})
      list(REMOVE_ITEM files ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
    endforeach()
  endif()
  # Test helpers in support/; those that call the system have their Windows
  # versions in support/win32/.
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  if(WIN32 AND IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/support/win32)
    file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/win32/*.cpp)
  endif()
  foreach(file ${files})
    get_filename_component(name ${file} NAME_WE)
    set(target ${prefix}_${name})
    add_executable(${target} ${file} ${helpers})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} kivo_test_common kivo_warnings GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE
      KIVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      KIVO_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata"
      KIVO_BINARY_DIR="${PROJECT_BINARY_DIR}")
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 900)
  endforeach()
endfunction()
