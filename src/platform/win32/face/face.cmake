# quorrel.exe: the Win32 face over the Win32 services.
if(NOT TARGET quorrel_win32)
  return()
endif()
set(QUORREL_RES_DIR ${CMAKE_CURRENT_LIST_DIR}/../res)
file(GLOB QUORREL_WIN32_FACE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
list(REMOVE_ITEM QUORREL_WIN32_FACE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/win_main.cpp)

# The face apart from WinMain, so the face tests can build the real window.
add_library(quorrel_win32_face STATIC ${QUORREL_WIN32_FACE_SOURCES})
target_link_libraries(quorrel_win32_face PUBLIC quorrel_win32 user32 gdi32 comctl32 shell32)
target_compile_definitions(quorrel_win32_face PUBLIC UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)

# The executable's icon is the grey state picture, written by a small program
# that runs on the build machine from the same drawing code the window uses.
set(QUORREL_ICON ${CMAKE_CURRENT_BINARY_DIR}/quorrel.ico)
set(QUORREL_ICON_SOURCES ${QUORREL_RES_DIR}/make_icon.cpp
    ${PROJECT_SOURCE_DIR}/src/window/state_pictures.cpp)
if(CMAKE_CROSSCOMPILING)
  find_program(QUORREL_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
  set(QUORREL_MAKE_ICON ${CMAKE_CURRENT_BINARY_DIR}/make_icon)
  add_custom_command(
    OUTPUT ${QUORREL_MAKE_ICON}
    COMMAND ${QUORREL_HOST_CXX} -std=c++20 -O2 -I${PROJECT_SOURCE_DIR}/src
            ${QUORREL_ICON_SOURCES} -o ${QUORREL_MAKE_ICON}
    DEPENDS ${QUORREL_ICON_SOURCES} ${PROJECT_SOURCE_DIR}/src/window/state_pictures.h
    COMMENT "Building the icon generator for the build machine"
    VERBATIM)
else()
  add_executable(quorrel_make_icon ${QUORREL_ICON_SOURCES})
  target_include_directories(quorrel_make_icon PRIVATE ${PROJECT_SOURCE_DIR}/src)
  set(QUORREL_MAKE_ICON quorrel_make_icon)
endif()
add_custom_command(
  OUTPUT ${QUORREL_ICON}
  COMMAND ${QUORREL_MAKE_ICON} ${QUORREL_ICON}
  DEPENDS ${QUORREL_MAKE_ICON}
  COMMENT "Writing quorrel.ico"
  VERBATIM)

set(QUORREL_RC ${QUORREL_RES_DIR}/quorrel.rc)
set_source_files_properties(${QUORREL_RC} PROPERTIES
  OBJECT_DEPENDS "${QUORREL_ICON};${QUORREL_RES_DIR}/quorrel.manifest"
  COMPILE_DEFINITIONS "QUORREL_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};QUORREL_VERSION_MINOR=${PROJECT_VERSION_MINOR};QUORREL_VERSION_PATCH=${PROJECT_VERSION_PATCH}")

add_executable(quorrel WIN32 ${CMAKE_CURRENT_LIST_DIR}/win_main.cpp ${QUORREL_RC} ${QUORREL_ICON})
target_include_directories(quorrel PRIVATE ${CMAKE_CURRENT_BINARY_DIR} ${QUORREL_RES_DIR})
target_link_libraries(quorrel PRIVATE quorrel_win32_face)
set_target_properties(quorrel PROPERTIES OUTPUT_NAME quorrel
                                         RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
if(NOT MSVC)
  # Symbols are no use to the people who run it; the size goal is for the stripped file.
  target_link_options(quorrel PRIVATE $<$<CONFIG:MinSizeRel>:-s -Wl,--gc-sections>)
endif()
