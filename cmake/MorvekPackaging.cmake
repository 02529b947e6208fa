# Packaging of the effect module. Component "plugin" holds the module, ready to
# be copied into the host, and a short install note for this platform:
#   cmake --install <build> --component plugin --prefix <folder>
#   cpack --config <build>/CPackConfig.cmake   (one archive: .zip on Windows
#                                               and macOS, .tar.gz on Linux)
if(WIN32)
  set(morvek_package_platform "Windows-x86_64")
  set(morvek_package_generator ZIP)
  set(morvek_module_file "MorvekExposure.aex")
  set(morvek_install_steps
"1. Quit the host application.
2. Copy MorvekExposure.aex into the host's plug-ins folder: the
   \"Plug-ins\\Effects\" folder inside the host application's folder, or a
   folder of your own below it (such as \"Plug-ins\\Effects\\Morvek\").
3. Start the host. The effect is listed as \"MorvekExposure\" in the
   \"Morvek\" category of the effect menu.

To remove it, quit the host and delete MorvekExposure.aex.")
elseif(APPLE)
  set(morvek_package_platform "macOS-universal")
  set(morvek_package_generator ZIP)
  set(morvek_module_file "MorvekExposure.plugin")
  set(morvek_install_steps
"1. Quit the host application.
2. Copy the whole MorvekExposure.plugin bundle (Intel and Apple silicon)
   into the host's plug-ins folder: the \"Plug-ins/Effects\" folder inside
   the host application's folder, or a folder of your own below it.
3. Start the host. The effect is listed as \"MorvekExposure\" in the
   \"Morvek\" category of the effect menu.

The bundle is not signed. If the system refuses to load it after a
download, clear its quarantine flag:
   xattr -dr com.apple.quarantine MorvekExposure.plugin

To remove it, quit the host and delete MorvekExposure.plugin.")
else()
  set(morvek_package_platform "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
  set(morvek_package_generator TGZ)
  set(morvek_module_file "MorvekExposure.so")
  set(morvek_install_steps
"The host does not run on this system. This build of the module is for the
project's stand-in host and command-line host (morvek-render), which read
the effect's property list from MorvekExposure.pipl: keep that file in the
same folder as MorvekExposure.so.")
endif()

install(TARGETS MorvekExposure
  LIBRARY DESTINATION . COMPONENT plugin
  RUNTIME DESTINATION . COMPONENT plugin)
if(NOT WIN32 AND NOT APPLE)
  install(FILES $<TARGET_PROPERTY:MorvekExposure,MORVEK_PIPL_FILE> DESTINATION . COMPONENT plugin)
endif()

file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/packaging/INSTALL.txt CONTENT
"MorvekExposure ${PROJECT_VERSION} (${morvek_package_platform})

A video effect: \"Exposure\" and \"Gamma Correction\" sliders, at 8, 16 and
32 bits per channel. This archive holds ${morvek_module_file}.

${morvek_install_steps}
")
install(FILES ${PROJECT_BINARY_DIR}/packaging/INSTALL.txt DESTINATION . COMPONENT plugin)

set(CPACK_PACKAGE_NAME "MorvekExposure")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "MorvekExposure-${PROJECT_VERSION}-${morvek_package_platform}")
set(CPACK_GENERATOR ${morvek_package_generator})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL plugin)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
include(CPack)
