# cmake -DREADELF=<readelf> -DPROGRAM=<executable> -P check_needed.cmake
#
# Fails when the program's ELF header names a shared library of Qt's that needs or brings a display:
# Widgets, Print Support, Multimedia, or Gui itself. The header's NEEDED entries are what the dynamic
# loader will load when a user runs the program, whatever the sources include.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${READELF} --dynamic ${PROGRAM}
                OUTPUT_VARIABLE dynamic RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${READELF} cannot read ${PROGRAM}: ${error}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^[]*\\[([^]]+)\\]" entries "${dynamic}")
set(needed)
foreach(entry ${entries})
    string(REGEX REPLACE ".*\\[([^]]+)\\]" "\\1" library "${entry}")
    list(APPEND needed ${library})
endforeach()
list(JOIN needed "\n  " shown)
message(STATUS "${PROGRAM} needs:\n  ${shown}")
# A header read wrongly would show no Qt at all, and pass the check below for the wrong reason.
if(NOT "libQt6Core.so.6" IN_LIST needed)
    message(FATAL_ERROR "no libQt6Core.so.6 among the needed libraries: the header was not read as expected")
endif()
set(forbidden)
foreach(library ${needed})
    if(library MATCHES "^libQt6(Widgets|PrintSupport|Multimedia|MultimediaWidgets|Gui|OpenGLWidgets)\\.so")
        list(APPEND forbidden ${library})
    endif()
endforeach()
if(forbidden)
    list(JOIN forbidden ", " named)
    message(FATAL_ERROR "a program without a display would load ${named}: one of its libraries links a module "
                        "that needs one")
endif()
