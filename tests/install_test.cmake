# Installs the build into a fresh prefix and checks what a desktop finds there:
#   cmake -DBUILD_DIR=... -DPREFIX=... -DAPP_ID=... -DVERSION=... -P install_test.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(expected
  bin/varnholt
  share/varnholt
  share/applications/${APP_ID}.desktop
  share/metainfo/${APP_ID}.metainfo.xml
  share/icons/hicolor/scalable/apps/${APP_ID}.svg)
string(REPLACE "," ";" companions "${COMPANIONS}")
foreach(name IN LISTS companions)
  list(APPEND expected share/varnholt/${name})
endforeach()
foreach(size 16 24 32 48 64 128 256)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
endforeach()
foreach(path IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

execute_process(COMMAND "${PREFIX}/bin/varnholt" --version
                OUTPUT_VARIABLE printed RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT printed STREQUAL VERSION)
  message(FATAL_ERROR "installed varnholt --version: '${printed}' (${rc}), expected ${VERSION}")
endif()

file(READ "${PREFIX}/share/applications/${APP_ID}.desktop" entry)
foreach(line "Exec=varnholt %F" "Icon=${APP_ID}" "Terminal=false"
             "Categories=Graphics;Photography;")
  string(FIND "${entry}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "desktop entry lacks the line ${line}")
  endif()
endforeach()

# The validators are optional on a developer's machine; where they are, they decide.
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${PREFIX}/share/applications/${APP_ID}.desktop"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${out}")
  endif()
else()
  message(STATUS "desktop-file-validate not found: desktop entry not validated")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net --pedantic
                          "${PREFIX}/share/metainfo/${APP_ID}.metainfo.xml"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate: ${out}")
  endif()
else()
  message(STATUS "appstreamcli not found: AppStream file not validated")
endif()
file(REMOVE_RECURSE "${PREFIX}")
