# The resources of our programs, from the templates in res/: the manifest (visual
# styles, dpi awareness, supported systems, no elevation), the version from the
# project's one version, and the icon that tools/MakeIcon.cpp draws at build time.

string(REPLACE "." "," TS_VERSION_COMMAS "${PROJECT_VERSION}.0")
set(TS_VERSION_QUAD "${PROJECT_VERSION}.0")
# "18.09": the minor number in two digits, as the program has always named itself.
if(PROJECT_VERSION_MINOR LESS 10)
  set(TS_VERSION_SHORT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(TS_VERSION_SHORT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
configure_file(${CMAKE_SOURCE_DIR}/res/ProgramVersion.h.in ${CMAKE_BINARY_DIR}/generated/res/ProgramVersion.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(TS_MANIFEST_ARCH amd64)
else()
  set(TS_MANIFEST_ARCH x86)
endif()

# The icon tool runs on the build machine, so it is built with the build
# machine's compiler, not the cross compiler this tree uses. It draws the
# program's icon and the simulator's, each named after its program.
find_program(TS_HOST_CXX NAMES c++ g++ REQUIRED)
set(TS_ICON_TOOL ${CMAKE_BINARY_DIR}/res/make_icon)
add_custom_command(
  OUTPUT ${TS_ICON_TOOL}
  COMMAND ${TS_HOST_CXX} -std=c++20 -O1 -I${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tools/MakeIcon.cpp -lz
          -o ${TS_ICON_TOOL}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/MakeIcon.cpp ${CMAKE_SOURCE_DIR}/app/IconPicture.h)
set(TS_ICON_FILES)
foreach(icon Virtual_TS4170:program TS4170_Simulator:simulator)
  string(REPLACE ":" ";" icon ${icon})
  list(GET icon 0 name)
  list(GET icon 1 picture)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/res/${name}.ico
    COMMAND ${TS_ICON_TOOL} ${CMAKE_BINARY_DIR}/res/${name}.ico ${picture}
    DEPENDS ${TS_ICON_TOOL}
    COMMENT "Drawing the ${picture}'s icon")
  list(APPEND TS_ICON_FILES ${CMAKE_BINARY_DIR}/res/${name}.ico)
endforeach()
add_custom_target(ts_icon DEPENDS ${TS_ICON_FILES})

# ts_resources(target [DESCRIPTION text] [DPI_UNAWARE]): with a description, a
# shipped program's whole set, its icon the one named after it; without, the
# manifest alone (tests that must see the controls as the programs draw them).
# DPI_UNAWARE leaves a window laid out in fixed pixels to the system's scaling.
function(ts_resources target)
  cmake_parse_arguments(R "DPI_UNAWARE" "DESCRIPTION" "" ${ARGN})
  set(TS_ICON_FILE ${CMAKE_BINARY_DIR}/res/${target}.ico)
  set(TS_DPI_SETTINGS)
  if(NOT R_DPI_UNAWARE)
    file(READ ${CMAKE_SOURCE_DIR}/res/DpiAware.manifest.in TS_DPI_SETTINGS)
  endif()
  set(TS_NAME ${target})
  set(TS_DESCRIPTION "${R_DESCRIPTION}")
  set(TS_MANIFEST_NAME "Virtual_TS4170.${target}")
  set(TS_MANIFEST_FILE ${CMAKE_BINARY_DIR}/res/${target}.manifest)
  if(R_DESCRIPTION)
    set(TS_WITH_ICON 1)
    set(TS_WITH_VERSION 1)
    add_dependencies(${target} ts_icon)
  else()
    set(TS_WITH_ICON)
    set(TS_WITH_VERSION)
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/res/Program.manifest.in ${TS_MANIFEST_FILE} @ONLY)
  set(script ${CMAKE_BINARY_DIR}/res/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/res/Program.rc.in ${script} @ONLY)
  set(depends ${script} ${TS_MANIFEST_FILE} ${CMAKE_SOURCE_DIR}/res/Resources.h)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/DpiAware.manifest.in)
  if(R_DESCRIPTION)
    list(APPEND depends ${TS_ICON_FILE})
  endif()
  # windres directly, not as a language of the targets: the code's compile
  # options are not windres's. Scripts are UTF-8, as every source is.
  add_custom_command(
    OUTPUT ${script}.o
    COMMAND ${CMAKE_RC_COMPILER} -c 65001 -I${CMAKE_SOURCE_DIR} -i ${script} -o ${script}.o
    DEPENDS ${depends})
  target_sources(${target} PRIVATE ${script}.o)
endfunction()
