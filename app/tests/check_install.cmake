# Installs the build into a scratch prefix and checks what the desktop needs from it:
# cmake -DBUILD_DIR=... -DPREFIX=... -DAPP_ID=... -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
  bin/quillmere
  bin/quillmere-avg
  share/man/man1/quillmere-avg.1
  share/applications/${APP_ID}.desktop
  share/icons/hicolor/16x16/apps/quillmere.png
  share/icons/hicolor/24x24/apps/quillmere.png
  share/icons/hicolor/32x32/apps/quillmere.png
  share/icons/hicolor/48x48/apps/quillmere.png)
foreach(path IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
# The newer formats' decoders, in the programs' private library folder.
file(GLOB_RECURSE module "${PREFIX}/lib*/quillmere/libquillmere-formats.so")
if(NOT module)
  message(FATAL_ERROR "the formats module is not installed under lib*/quillmere")
endif()
if(NOT IS_DIRECTORY "${PREFIX}/bin" OR IS_DIRECTORY "${PREFIX}/bin/quillmere")
  message(FATAL_ERROR "bin/quillmere is not a program")
endif()

# The desktop entry starts the installed program by name and names the installed icon.
file(STRINGS "${PREFIX}/share/applications/${APP_ID}.desktop" entry)
# "Open with" in file managers hands over one file as %f.
foreach(line "[Desktop Entry]" "Type=Application" "Name=Quillmere" "Exec=quillmere %f"
    "Icon=quillmere")
  list(FIND entry "${line}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${APP_ID}.desktop lacks ${line}")
  endif()
endforeach()
# Every format the loader reads must be offered for "Open with".
list(FILTER entry INCLUDE REGEX "^MimeType=")
foreach(type image/bmp image/png image/gif image/jpeg image/x-icon image/vnd.microsoft.icon)
  if(NOT entry MATCHES "[=;]${type};")
    message(FATAL_ERROR "${APP_ID}.desktop does not offer ${type}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
