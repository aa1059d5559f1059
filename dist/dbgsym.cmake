# Run by CPack after it made the packages (CPACK_POST_BUILD_SCRIPTS): puts
# the debug symbols package (consistgeral-dbgsym, a .ddeb) in the shape that
# dpkg and lintian expect. The one CPack makes lists its file in md5sums by
# its absolute path in CPack's staging folder, and has no documentation
# folder: Debian's dbgsym packages link theirs to that of the package they
# depend on, which holds the copyright and the changelog.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
# The packages as made, in the staging folder: CPack copies them out after
# this script.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)

  file(STRINGS "${tree}/DEBIAN/md5sums" sums)
  set(relative "")
  foreach(line IN LISTS sums)
    string(REGEX REPLACE "^([0-9a-f]+)  /.*/(usr/lib/debug/.*)$" "\\1  \\2" line "${line}")
    string(APPEND relative "${line}\n")
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${relative}")

  string(REGEX REPLACE "^.*/([^/_]+)-dbgsym_[^/]*$" "\\1" program "${package}")
  file(MAKE_DIRECTORY "${tree}/usr/share/doc")
  file(CREATE_LINK "${program}" "${tree}/usr/share/doc/${program}-dbgsym" SYMBOLIC)

  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${tree}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
