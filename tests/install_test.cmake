# Installs the build into a fresh prefix and checks what a desktop finds there:
#   cmake -DBUILD_DIR=... -DPREFIX=... -DAPP_ID=... -DLIST_TYPE=... -DVERSION=... -P install_test.cmake
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
  share/mime/packages/${APP_ID}.xml
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
             "Categories=Graphics;Photography;" "MimeType=${LIST_TYPE};")
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

# The MIME package: the database built from it knows the type, its name and
# icon, and a desktop asked what a .vop file is answers with it.
find_program(UPDATE_MIME_DATABASE update-mime-database)
find_program(XMLLINT xmllint)
if(XMLLINT)
  execute_process(COMMAND "${XMLLINT}" --noout "${PREFIX}/share/mime/packages/${APP_ID}.xml"
                  RESULT_VARIABLE rc ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the MIME package is not well-formed XML: ${out}")
  endif()
endif()
if(UPDATE_MIME_DATABASE)
  execute_process(COMMAND "${UPDATE_MIME_DATABASE}" -V "${PREFIX}/share/mime"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  # Anything it warns about (an unknown element, a bad glob) is a fault.
  string(REGEX MATCH "[Ww]arning|[Ee]rror|[Ii]nvalid|[Uu]nknown" complaint "${out}")
  if(NOT rc EQUAL 0 OR complaint)
    message(FATAL_ERROR "update-mime-database: ${out}")
  endif()
  file(READ "${PREFIX}/share/mime/${LIST_TYPE}.xml" compiled)
  foreach(part "<comment>Varnholt operation list</comment>" "<icon name=\"${APP_ID}\"/>"
               "<sub-class-of type=\"text/plain\"/>")
    string(FIND "${compiled}" "${part}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the MIME database's ${LIST_TYPE} lacks ${part}:\n${compiled}")
    endif()
  endforeach()
  file(READ "${PREFIX}/share/mime/globs2" globs)
  string(FIND "${globs}" ":${LIST_TYPE}:*.vop" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the MIME database does not give *.vop to ${LIST_TYPE}:\n${globs}")
  endif()

  find_program(XDG_MIME xdg-mime)
  if(XDG_MIME)
    # Asked as on a desktop of no particular kind, with no types of the
    # user's own: only the prefix and the system say what a file is.
    file(MAKE_DIRECTORY "${PREFIX}/home/data")
    file(WRITE "${PREFIX}/home/web.vop" "1>Extract Whole Image Quality: \"75\"\r\n")
    file(WRITE "${PREFIX}/home/UPPER.VOP" "1>Extract Whole Image Quality: \"75\"\r\n")
    foreach(list web.vop UPPER.VOP)
      execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env --unset=XDG_CURRENT_DESKTOP --unset=DESKTOP_SESSION
                --unset=KDE_FULL_SESSION --unset=GNOME_DESKTOP_SESSION_ID
                "XDG_DATA_HOME=${PREFIX}/home/data" "XDG_DATA_DIRS=${PREFIX}/share:/usr/share"
                "${XDG_MIME}" query filetype "${PREFIX}/home/${list}"
        RESULT_VARIABLE rc OUTPUT_VARIABLE type ERROR_VARIABLE out
        OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT rc EQUAL 0 OR NOT type STREQUAL LIST_TYPE)
        message(FATAL_ERROR "xdg-mime query filetype ${list}: '${type}' (${rc}) ${out}, expected ${LIST_TYPE}")
      endif()
    endforeach()
  else()
    message(STATUS "xdg-mime not found: the type of a .vop file not asked")
  endif()
else()
  message(STATUS "update-mime-database not found: the MIME package not validated")
endif()
# The MIME package: the database built from it knows the type, its name and
# icon, and a desktop asked what a .vop file is answers with it.
find_program(UPDATE_MIME_DATABASE update-mime-database)
find_program(XMLLINT xmllint)
if(XMLLINT)
  execute_process(COMMAND "${XMLLINT}" --noout "${PREFIX}/share/mime/packages/${APP_ID}.xml"
                  RESULT_VARIABLE rc ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the MIME package is not well-formed XML: ${out}")
  endif()
endif()
if(UPDATE_MIME_DATABASE)
  execute_process(COMMAND "${UPDATE_MIME_DATABASE}" -V "${PREFIX}/share/mime"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  # Anything it warns about (an unknown element, a bad glob) is a fault.
  string(REGEX MATCH "[Ww]arning|[Ee]rror|[Ii]nvalid|[Uu]nknown" complaint "${out}")
  if(NOT rc EQUAL 0 OR complaint)
    message(FATAL_ERROR "update-mime-database: ${out}")
  endif()
  file(READ "${PREFIX}/share/mime/${LIST_TYPE}.xml" compiled)
  foreach(part "<comment>Varnholt operation list</comment>" "<icon name=\"${APP_ID}\"/>"
               "<sub-class-of type=\"text/plain\"/>")
    string(FIND "${compiled}" "${part}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the MIME database's ${LIST_TYPE} lacks ${part}:\n${compiled}")
    endif()
  endforeach()
  file(READ "${PREFIX}/share/mime/globs2" globs)
  string(FIND "${globs}" ":${LIST_TYPE}:*.vop" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the MIME database does not give *.vop to ${LIST_TYPE}:\n${globs}")
  endif()

  find_program(XDG_MIME xdg-mime)
  if(XDG_MIME)
    # Asked as on a desktop of no particular kind, with no types of the
    # user's own: only the prefix and the system say what a file is.
    file(MAKE_DIRECTORY "${PREFIX}/home/data")
    file(WRITE "${PREFIX}/home/web.vop" "1>Extract Whole Image Quality: \"75\"\r\n")
    file(WRITE "${PREFIX}/home/UPPER.VOP" "1>Extract Whole Image Quality: \"75\"\r\n")
    foreach(list web.vop UPPER.VOP)
      execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env --unset=XDG_CURRENT_DESKTOP --unset=DESKTOP_SESSION
                --unset=KDE_FULL_SESSION --unset=GNOME_DESKTOP_SESSION_ID
                "XDG_DATA_HOME=${PREFIX}/home/data" "XDG_DATA_DIRS=${PREFIX}/share:/usr/share"
                "${XDG_MIME}" query filetype "${PREFIX}/home/${list}"
        RESULT_VARIABLE rc OUTPUT_VARIABLE type ERROR_VARIABLE out
        OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT rc EQUAL 0 OR NOT type STREQUAL LIST_TYPE)
        message(FATAL_ERROR "xdg-mime query filetype ${list}: '${type}' (${rc}) ${out}, expected ${LIST_TYPE}")
      endif()
    endforeach()
  else()
    message(STATUS "xdg-mime not found: the type of a .vop file not asked")
  endif()
else()
  message(STATUS "update-mime-database not found: the MIME package not validated")
endif()
file(REMOVE_RECURSE "${PREFIX}")
