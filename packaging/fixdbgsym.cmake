# SPDX-License-Identifier: MIT
# Run by CPack after it made the packages: CPack 3.25's pidtune-dbgsym lists build paths in its
# md5sums, marks the symbol files executable and has no documents. Repacked here the way
# debhelper makes it: 0644 files, md5sums of the package paths, and its documentation directory
# a link to pidtune's, whose copyright and changelog cover it.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "-dbgsym_.*\\.ddeb$")
        continue()
    endif()
    get_filename_component(tree "${package}" DIRECTORY)
    set(tree "${tree}/dbgsym-repack")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)

    file(GLOB_RECURSE symbols LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/usr/*")
    list(SORT symbols)
    set(sums "")
    foreach(file IN LISTS symbols)
        file(CHMOD "${tree}/${file}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        file(MD5 "${tree}/${file}" sum)
        string(APPEND sums "${sum}  ${file}\n")
    endforeach()
    file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")

    file(READ "${tree}/DEBIAN/control" control)
    string(REGEX REPLACE "\nPackage: ([^\n]*)-dbgsym\n" "\nPackage: \\1-dbgsym\nSource: \\1\n"
           control "\n${control}")
    string(SUBSTRING "${control}" 1 -1 control)
    file(WRITE "${tree}/DEBIAN/control" "${control}")
    file(MAKE_DIRECTORY "${tree}/usr/share/doc")
    file(CREATE_LINK ${CPACK_PACKAGE_NAME} "${tree}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym"
         SYMBOLIC)

    # dpkg-deb takes its time stamps from SOURCE_DATE_EPOCH, as CPack does.
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${tree}" "${package}"
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
endforeach()
