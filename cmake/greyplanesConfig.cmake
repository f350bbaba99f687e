# greyplanes: pictures converted to C headers as a build step.
#
#   find_package(greyplanes REQUIRED)
#   greyplanes_add_images(<target> [PAD_ROWS] [LF] <picture>...)
#
# Provides the imported executable greyplanes::cli (the installed greyplanes-cli).

include("${CMAKE_CURRENT_LIST_DIR}/greyplanesTargets.cmake")

# Converts each picture, when it or the converter changed, into <stem>.h in
# ${CMAKE_CURRENT_BINARY_DIR}/greyplanes with `greyplanes-cli --complete --name <stem>`, where
# <stem> is the file's name without its last extension made into a C identifier (`tiny-1.bmp`
# gives tiny_1.h with tiny_1_d, tiny_1_l, tiny_1_width and tiny_1_height). The folder goes on
# the target's include path, so that `#include "tiny_1.h"` works. PAD_ROWS starts each pixel row
# on a new byte; LF ends the lines with LF alone.
function(greyplanes_add_images target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "PAD_ROWS;LF" "" "")
    if(NOT TARGET "${target}")
        message(FATAL_ERROR "greyplanes_add_images: ${target} is not a target")
    endif()
    if(NOT arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "greyplanes_add_images: no pictures given for ${target}")
    endif()
    set(options --complete -q)
    if(arg_PAD_ROWS)
        list(APPEND options --pad-rows)
    endif()
    if(arg_LF)
        list(APPEND options --lf)
    endif()
    set(dir "${CMAKE_CURRENT_BINARY_DIR}/greyplanes")
    set(headers)
    foreach(picture IN LISTS arg_UNPARSED_ARGUMENTS)
        get_filename_component(input "${picture}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        get_filename_component(stem "${input}" NAME_WLE)
        # Anything but letters, digits and '_' becomes '_'; a leading digit gets '_' in front.
        string(MAKE_C_IDENTIFIER "${stem}" name)
        set(header "${dir}/${name}.h")
        # One header per name in this folder, made from one picture.
        get_property(made DIRECTORY PROPERTY "GREYPLANES_IMAGE_${name}")
        if(made AND NOT made STREQUAL input)
            message(FATAL_ERROR "greyplanes_add_images: ${made} and ${input} would both "
                                "make ${name}.h")
        endif()
        if(NOT made)
            set_property(DIRECTORY PROPERTY "GREYPLANES_IMAGE_${name}" "${input}")
            add_custom_command(OUTPUT "${header}"
                COMMAND greyplanes::cli ${options} --name "${name}" -o "${header}" -- "${input}"
                DEPENDS "${input}" "$<TARGET_FILE:greyplanes::cli>"
                COMMENT "Converting ${picture} to ${name}.h"
                VERBATIM)
        endif()
        list(APPEND headers "${header}")
    endforeach()
    file(MAKE_DIRECTORY "${dir}")
    target_sources("${target}" PRIVATE ${headers})
    target_include_directories("${target}" PRIVATE "${dir}")
endfunction()
