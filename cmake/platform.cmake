# SPDX-License-Identifier: MIT
# What this system offers, decided once here. The targets pick their platform's source files by
# these (…_unix.cpp or …_win.cpp; …_nopty.cpp where there are no pseudo-terminals), and
# pidtune_config.h tells the code and the tests the same.
if(WIN32)
    set(PIDTUNE_PLATFORM win)
else()
    set(PIDTUNE_PLATFORM unix)
endif()

# Pseudo-terminals: pidtune-monitor --pty, the scope's relay, and the tests that play a device.
set(PIDTUNE_PTY_LIBRARIES)
if(UNIX)
    include(CheckSymbolExists)
    include(CMakePushCheckState)
    cmake_push_check_state(RESET)
    if(CMAKE_SYSTEM_NAME MATCHES "Linux")
        set(CMAKE_REQUIRED_LIBRARIES util)
        set(PIDTUNE_PTY_LIBRARIES util)
        check_symbol_exists(openpty "pty.h" PIDTUNE_HAVE_PTY)
    elseif(CMAKE_SYSTEM_NAME MATCHES "BSD")
        set(CMAKE_REQUIRED_LIBRARIES util)
        set(PIDTUNE_PTY_LIBRARIES util)
        check_symbol_exists(openpty "sys/types.h;libutil.h" PIDTUNE_HAVE_PTY)
    else()
        check_symbol_exists(openpty "util.h" PIDTUNE_HAVE_PTY)
    endif()
    cmake_pop_check_state()
endif()
if(PIDTUNE_HAVE_PTY)
    set(PIDTUNE_HAVE_PTY ON)
else()
    set(PIDTUNE_HAVE_PTY OFF)
endif()
# The relay gives pidtune a pseudo-terminal of its own making.
set(PIDTUNE_HAVE_RELAY ${PIDTUNE_HAVE_PTY})
# Serial terminals on Unix mark the ports they hold with lock files (the UUCP convention).
if(UNIX)
    set(PIDTUNE_HAVE_UUCP_LOCKS ON)
else()
    set(PIDTUNE_HAVE_UUCP_LOCKS OFF)
endif()
message(STATUS "pidtune: platform ${PIDTUNE_PLATFORM}, pseudo-terminals ${PIDTUNE_HAVE_PTY}, "
               "UUCP locks ${PIDTUNE_HAVE_UUCP_LOCKS}")

foreach(capability PTY RELAY UUCP_LOCKS)
    if(PIDTUNE_HAVE_${capability})
        set(PIDTUNE_HAVE_${capability}_VALUE true)
    else()
        set(PIDTUNE_HAVE_${capability}_VALUE false)
    endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/pidtune_config.h.in
               ${PROJECT_BINARY_DIR}/config/pidtune_config.h @ONLY)

# A Windows program's icon and version resource (packaging/windows/program.rc.in); nothing
# elsewhere.
function(pidtune_windows_resources target description)
    if(NOT WIN32)
        return()
    endif()
    set(PIDTUNE_PROGRAM ${target})
    set(PIDTUNE_DESCRIPTION "${description}")
    set(PIDTUNE_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/pidtune.ico)
    set(rc ${PROJECT_BINARY_DIR}/resources/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
