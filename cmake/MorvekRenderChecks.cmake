# End-to-end checks that other builds of the module render raw frames at 8, 16
# and 32 bits that equal, byte for byte, the Linux x86-64 build's renders of
# the same frames (scripts/same-renders.sh):
#   the portable loops, on x86-64 (MorvekExposurePortable, in the same build);
#   Windows, under Wine: the entry point and property list found through the
#     Windows loader and resource API;
#   aarch64 Linux, under qemu-user: the portable loops, as compiled for an Arm
#     processor.
if(NOT TARGET morvek-render)
  return()
endif()
find_program(MORVEK_PERL perl)
if(TARGET MorvekExposurePortable AND MORVEK_PERL)
  add_test(NAME portable_render_matches_vector
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check-portable.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(portable_render_matches_vector PROPERTIES LABELS Renders SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
if(NOT CMAKE_CROSSCOMPILING)
  return()
endif()
if(WIN32)
  find_program(MORVEK_RUNNER NAMES wine wine64)
  set(check wine_render_matches_linux)
  set(script check-wine.sh)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  find_program(MORVEK_RUNNER NAMES qemu-aarch64 qemu-aarch64-static)
  set(check qemu_render_matches_linux)
  set(script check-qemu.sh)
  set(label "aarch64, ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}, under qemu-user")
else()
  return()
endif()

set(MORVEK_LINUX_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/release" CACHE PATH
    "Linux build (with morvek-render) whose renders the cross build must match")
if(MORVEK_RUNNER AND MORVEK_PERL AND EXISTS "${MORVEK_LINUX_BUILD_DIR}/CMakeCache.txt")
  add_test(NAME ${check}
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/${script} ${MORVEK_LINUX_BUILD_DIR} ${PROJECT_BINARY_DIR} ${label})
  set_tests_properties(${check} PROPERTIES LABELS Renders TIMEOUT 1200)
  if(MORVEK_AARCH64_SYSROOT)
    set_tests_properties(${check} PROPERTIES ENVIRONMENT QEMU_LD_PREFIX=${MORVEK_AARCH64_SYSROOT})
  endif()
else()
  message(STATUS "Render check off: needs ${script}'s runner, perl and a Linux build in ${MORVEK_LINUX_BUILD_DIR}")
endif()
