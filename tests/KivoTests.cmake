# kivo_add_tests(<folder-name> LIBS <libs...>): every *Test.cpp in the calling
# folder becomes one GoogleTest executable <folder>_<File>, registered with CTest.
# Files named after NOT_ON_WINDOWS are left out of the Windows build: they
# still work through POSIX calls directly and wait for their Win32 port.
# Files named after ONLY_ON_WINDOWS test what only the Windows build has
# (its native views).
# The folders the tests name are this machine's; a Windows build run under
# Wine reaches them through its drive Z:, which maps the host's root (a
# name starting with '/' would count from the drive of the current folder).
set(KIVO_TEST_HOST_DRIVE "")
if(WIN32 AND CMAKE_HOST_UNIX)
  set(KIVO_TEST_HOST_DRIVE "Z:")
endif()

# Under Wine every test program is a client of one wineserver. Left to
# itself, Wine starts a server with the first program and stops it a few
# seconds after the last one ends, so a program starting just then can meet
# a server going away ("wine client error"). One server kept for the whole
# run (a CTest fixture every test requires) removes that. The setup then
# starts Wine's own background programs (wineboot, which also makes the
# prefix when it is missing, so that two tests starting side by side never
# both make it): they live as long as the server, and started by a test
# they would hold its output pipe open and keep CTest waiting. Everything
# the setup starts writes to /dev/null for the same reason. The setup also
# chooses Wine's display driver: X11 with a display, else the null driver,
# so that the native windows' tests run without one
# (tests/common/win32/wine-start.sh).
set(KIVO_TEST_FIXTURES "")
if(WIN32 AND CMAKE_HOST_UNIX AND CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KIVO_WINESERVER NAMES wineserver REQUIRED)
  set(_wine_env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all)
  # A server the build's test discovery or an interrupted run left is
  # stopped first.
  add_test(NAME wine_server_start COMMAND sh -c "\"$0\" \"$1\" \"$2\" >/dev/null 2>&1 </dev/null"
    ${PROJECT_SOURCE_DIR}/tests/common/win32/wine-start.sh ${KIVO_WINESERVER} ${KIVO_WINE})
  add_test(NAME wine_server_stop COMMAND sh -c "\"$0\" -k >/dev/null 2>&1 </dev/null; true"
    ${KIVO_WINESERVER})
  set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300
                        ENVIRONMENT "${_wine_env}")
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60
                        ENVIRONMENT "${_wine_env}")
  set(KIVO_TEST_FIXTURES FIXTURES_REQUIRED wine)
endif()

# What a test executable or its folder's helper library is built with.
function(_kivo_test_settings target)
  target_link_libraries(${target} PRIVATE ${ARGN} kivo_test_common kivo_warnings GTest::gtest GTest::gmock)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE
    KIVO_SOURCE_DIR="${KIVO_TEST_HOST_DRIVE}${PROJECT_SOURCE_DIR}"
    KIVO_TESTDATA_DIR="${KIVO_TEST_HOST_DRIVE}${PROJECT_SOURCE_DIR}/../shared/testdata"
    KIVO_BINARY_DIR="${KIVO_TEST_HOST_DRIVE}${PROJECT_BINARY_DIR}")
endfunction()

function(kivo_add_tests prefix)
  cmake_parse_arguments(ARG "" "" "LIBS;NOT_ON_WINDOWS;ONLY_ON_WINDOWS" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  if(WIN32)
    set(left_out ${ARG_NOT_ON_WINDOWS})
  else()
    set(left_out ${ARG_ONLY_ON_WINDOWS})
  endif()
  foreach(name ${left_out})
    list(REMOVE_ITEM files ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  endforeach()
  # The folder's support/*.cpp helpers are compiled once, into one library
  # every executable of the folder links; those that call the system have
  # their Windows versions in support/win32/.
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  if(WIN32 AND IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/support/win32)
    file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/win32/*.cpp)
  endif()
  set(support "")
  if(helpers)
    set(support ${prefix}_support)
    add_library(${support} STATIC ${helpers})
    _kivo_test_settings(${support} ${ARG_LIBS})
  endif()
  foreach(file ${files})
    get_filename_component(name ${file} NAME_WE)
    set(target ${prefix}_${name})
    add_executable(${target} ${file})
    _kivo_test_settings(${target} ${support} ${ARG_LIBS})
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
    if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=thread")
      # The programs the tests start get the suppressions too.
      gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 900
        ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1:suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
    else()
      gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 900
        ${KIVO_TEST_FIXTURES})
    endif()
  endforeach()
endfunction()
