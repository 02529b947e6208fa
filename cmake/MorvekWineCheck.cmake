# The Windows build's end-to-end check, run under Wine: morvek-render.exe
# loads MorvekExposure.aex (entry point and property list found through the
# Windows loader and resource API) and renders raw frames at 8, 16 and 32 bits,
# which must equal, byte for byte, the Linux build's renders of the same frames.
if(WIN32 AND CMAKE_CROSSCOMPILING AND TARGET morvek-render)
  set(MORVEK_LINUX_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/release" CACHE PATH
      "Linux build (with morvek-render) whose renders the Windows build must match")
  find_program(MORVEK_WINE NAMES wine wine64)
  find_program(MORVEK_PERL perl)
  if(MORVEK_WINE AND MORVEK_PERL AND EXISTS "${MORVEK_LINUX_BUILD_DIR}/CMakeCache.txt")
    add_test(NAME wine_render_matches_linux
      COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check-wine.sh ${MORVEK_LINUX_BUILD_DIR} ${PROJECT_BINARY_DIR})
    set_tests_properties(wine_render_matches_linux PROPERTIES TIMEOUT 1200)
  else()
    message(STATUS "Wine render check off: needs wine, perl and a Linux build in ${MORVEK_LINUX_BUILD_DIR}")
  endif()
endif()
