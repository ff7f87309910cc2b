# quillmere-avg on its own, as the Windows build makes it: the analysis, the decoders built into
# the loader and the program, with no Qt library, no tests and no window.
set(QUILLMERE_TESTS OFF)
# The loader's tables that need no Qt, cross-built to run under Wine (GoogleTest from the prefix).
option(QUILLMERE_WINDOWS_TESTS "With QUILLMERE_AVG_ONLY on Windows: build imaging_windows_tests" OFF)

# The decoders use Qt's QSize and QRgb, which are whole in their headers; the host's headers serve.
find_path(QUILLMERE_QT_INCLUDE_DIR QtCore/qsize.h
  PATHS /usr/include/${CMAKE_LIBRARY_ARCHITECTURE} /usr/include/x86_64-linux-gnu
  PATH_SUFFIXES qt6 NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(quillmere_qt_headers INTERFACE)
target_include_directories(quillmere_qt_headers SYSTEM INTERFACE
  ${QUILLMERE_QT_INCLUDE_DIR} ${QUILLMERE_QT_INCLUDE_DIR}/QtCore ${QUILLMERE_QT_INCLUDE_DIR}/QtGui)
target_compile_definitions(quillmere_qt_headers INTERFACE QT_NO_VERSION_TAGGING)

# Header-only libraries, also taken from the host: each folder holds nothing but its own headers.
foreach(header_only CLI11:CLI/CLI.hpp nlohmann_json:nlohmann/json.hpp STB:stb/stb_image_resize.h)
  string(REPLACE ":" ";" parts ${header_only})
  list(GET parts 0 name)
  list(GET parts 1 header)
  find_path(QUILLMERE_${name}_INCLUDE_DIR ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
    NO_DEFAULT_PATH REQUIRED)
  get_filename_component(top ${header} DIRECTORY)
  # Only that library's folder is made visible, never the host's /usr/include itself.
  set(headers_${name} ${PROJECT_BINARY_DIR}/host-headers/${name})
  file(MAKE_DIRECTORY ${headers_${name}})
  file(CREATE_LINK ${QUILLMERE_${name}_INCLUDE_DIR}/${top} ${headers_${name}}/${top} SYMBOLIC)
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${headers_CLI11})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${headers_nlohmann_json})
add_library(PkgConfig::STB INTERFACE IMPORTED)
target_include_directories(PkgConfig::STB SYSTEM INTERFACE ${headers_STB}/stb)

if(WIN32)
  # One .exe that needs nothing beside it: the C++ runtime and the thread library are linked in.
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  target_compile_definitions(quillmere_warnings INTERFACE
    _FILE_OFFSET_BITS=64 UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_options(quillmere_warnings INTERFACE -static $<$<CONFIG:Release>:-s>)
endif()

add_subdirectory(analysis)
add_subdirectory(imaging)
add_subdirectory(tools)
