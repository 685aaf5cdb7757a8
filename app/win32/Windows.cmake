# The installer on Windows: the native view of the window over the shared
# state (kivo_app), the resources (manifest, version, icons), the program
# kivo-mapi-setup.exe, and the demo tour kivo-mapi-setup-tour.exe.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_library(kivo_app STATIC win32/RunElevatedForm.cpp)
target_link_libraries(kivo_app PUBLIC kivo_app_core kivo_webcopy_win kivo_platform PRIVATE kivo_warnings)
target_include_directories(kivo_app PUBLIC ${PROJECT_SOURCE_DIR})

# The icons are drawn at build time (make-icons.py): nothing generated is kept
# in the sources.
set(KIVO_ICON_DIR ${CMAKE_CURRENT_BINARY_DIR}/icons)
add_custom_command(
  OUTPUT ${KIVO_ICON_DIR}/kivo-mapi-setup.ico ${KIVO_ICON_DIR}/wastebin.ico
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/win32/make-icons.py ${KIVO_ICON_DIR}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/make-icons.py
  COMMENT "Drawing the installer's icons")
add_custom_target(kivo_app_icons DEPENDS ${KIVO_ICON_DIR}/kivo-mapi-setup.ico
                                         ${KIVO_ICON_DIR}/wastebin.ico)

set(KIVO_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
set(KIVO_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/kivo-mapi-setup.manifest)
configure_file(win32/kivo-mapi-setup.manifest ${KIVO_MANIFEST} @ONLY)
configure_file(win32/kivo-mapi-setup.rc.in ${CMAKE_CURRENT_BINARY_DIR}/kivo-mapi-setup.rc @ONLY)
# One object every program with the installer's window links: the program,
# the tour and the view's tests find the waste bin in their own resources.
add_library(kivo_app_resources OBJECT ${CMAKE_CURRENT_BINARY_DIR}/kivo-mapi-setup.rc)
target_include_directories(kivo_app_resources PRIVATE ${PROJECT_SOURCE_DIR})
add_dependencies(kivo_app_resources kivo_app_icons)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/kivo-mapi-setup.rc PROPERTIES
  OBJECT_DEPENDS "${KIVO_ICON_DIR}/kivo-mapi-setup.ico;${KIVO_ICON_DIR}/wastebin.ico;${KIVO_MANIFEST}")

# A window program: no console of its own.
add_executable(kivo-mapi-setup WIN32 win32/main.cpp $<TARGET_OBJECTS:kivo_app_resources>)
target_link_libraries(kivo-mapi-setup PRIVATE kivo_app kivo_warnings)

# The tour prints what it does: a console program.
add_executable(kivo-mapi-setup-tour win32/Tour.cpp $<TARGET_OBJECTS:kivo_app_resources>)
target_link_libraries(kivo-mapi-setup-tour PRIVATE kivo_app kivo_warnings)

# Installation: a folder a user can run from (the program is linked
# statically and needs nothing beside it), as the component "installer":
#   cmake --install build/windows --component installer --strip --prefix <folder>
# and the same folder as a ZIP archive: cpack --preset windows.
install(TARGETS kivo-mapi-setup RUNTIME DESTINATION . COMPONENT installer)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kivo-mapi-setup)
set(CPACK_PACKAGE_VENDOR "KIVO Didazive")
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_COMPONENTS_ALL installer)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_INSTALLER_FILE_NAME kivo-mapi-setup-${PROJECT_VERSION}-windows-x64)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
