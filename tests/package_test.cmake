# Builds the Debian package and checks it against what `cmake --install`
# puts down: the same files under /usr, dependencies worked out, the manual
# page in place.
#   cmake -DBUILD_DIR=... -DOUT=... -DVERSION=... -P package_test.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND cpack -G DEB -B "${OUT}" --config "${BUILD_DIR}/CPackConfig.cmake"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB debs "${OUT}/varnholt_${VERSION}_*.deb")
list(LENGTH debs count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages named varnholt_${VERSION}_*.deb (${rc}): ${out}")
endif()

execute_process(COMMAND dpkg-deb --fsys-tarfile ${debs} COMMAND tar -t
                OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
string(REPLACE "\n" ";" listing "${listing}")
set(packaged "")
foreach(entry IN LISTS listing)
  # Files and links only: folders follow from them.
  if(entry MATCHES "^\\./usr/(.*[^/])$")
    list(APPEND packaged "${CMAKE_MATCH_1}")
  endif()
endforeach()

execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${OUT}/tree"
                RESULT_VARIABLE rc OUTPUT_QUIET)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${OUT}/tree" "${OUT}/tree/*")
list(SORT packaged)
list(SORT installed)
if(NOT rc EQUAL 0 OR NOT packaged STREQUAL installed)
  message(FATAL_ERROR "the package holds\n  ${packaged}\nbut the install puts down\n  ${installed}")
endif()
foreach(path bin/varnholt share/man/man1/varnholt.1.gz share/doc/varnholt/copyright)
  if(NOT path IN_LIST packaged)
    message(FATAL_ERROR "not in the package: ${path}")
  endif()
endforeach()

execute_process(COMMAND dpkg-deb -f ${debs} Package Version Depends OUTPUT_VARIABLE control)
foreach(expected "Package: varnholt\n" "Version: ${VERSION}\n" "libmagickwand-6.q16-6"
                 "libqt6widgets6" "libc6")
  string(FIND "${control}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the control file lacks '${expected}':\n${control}")
  endif()
endforeach()
file(REMOVE_RECURSE "${OUT}")
