# Checks what each library of the program includes of the others:
# - every include of our own headers names its library ("core/systemvar.h");
# - a library includes no header of a library after it in the order of the libraries;
# - a library includes only headers of libraries it declares, and its own headers only of libraries it
#   declares PUBLIC (a header's include reaches everyone who includes that header).
# Usage: cmake -DMANIFEST=<file> -DSOURCE_ROOT=<folder of the libraries' folders> -P check_includes.cmake
# The manifest sets LIBRARIES (in order) and, for each library L, L_PUBLIC and L_DECLARED (public and
# private together).
cmake_minimum_required(VERSION 3.25)
include(${MANIFEST})

set(problems "")
foreach(library IN LISTS LIBRARIES)
    list(FIND LIBRARIES ${library} library_index)
    file(GLOB files RELATIVE ${SOURCE_ROOT} ${SOURCE_ROOT}/${library}/*.h ${SOURCE_ROOT}/${library}/*.cpp)
    foreach(file IN LISTS files)
        file(STRINGS ${SOURCE_ROOT}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
        foreach(line IN LISTS lines)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([\"<])([^\">]*)[\">].*" "\\1;\\2" parsed "${line}")
            list(GET parsed 0 quote)
            list(GET parsed 1 name)
            string(REGEX REPLACE "/.*" "" used "${name}")
            list(FIND LIBRARIES "${used}" used_index)
            if(quote STREQUAL "<" AND used_index EQUAL -1)
                continue() # a system or Qt header
            endif()
            if(name MATCHES "\\.moc$")
                continue() # moc's output for this very file
            endif()
            if(used_index EQUAL -1)
                list(APPEND problems "${file}: \"${name}\" does not name the library it belongs to")
            elseif(used STREQUAL library)
                continue()
            elseif(used_index GREATER library_index)
                list(APPEND problems "${file}: \"${name}\" is a header of ${used}, which comes after ${library}")
            elseif(NOT used IN_LIST ${library}_DECLARED)
                list(APPEND problems "${file}: \"${name}\" is a header of ${used}, which ${library} does not declare")
            elseif(file MATCHES "\\.h$" AND NOT used IN_LIST ${library}_PUBLIC)
                list(APPEND problems
                     "${file}: \"${name}\" is included by a header, but ${library} declares ${used} PRIVATE, not PUBLIC")
            endif()
        endforeach()
    endforeach()
endforeach()

if(problems)
    list(LENGTH problems count)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "${count} include(s) outside what the libraries declare:\n  ${text}")
endif()
list(LENGTH LIBRARIES count)
message(STATUS "The includes of ${count} libraries stay within what each declares.")
