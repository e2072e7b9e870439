# SPDX-License-Identifier: MIT
# Run by CPack on its staging tree: the programs lose the .comment section (compiler versions),
# which a Debian package does not ship.
find_program(objcopy NAMES objcopy REQUIRED)
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
    execute_process(COMMAND ${objcopy} --remove-section=.comment ${program} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
