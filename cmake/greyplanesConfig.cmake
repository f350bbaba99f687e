# greyplanes: pictures converted to C headers as a build step.
#
#   find_package(greyplanes REQUIRED)
#   greyplanes_add_images(<target> [LAYOUT name] [WORD n] [TILE_ORDER order] [INVERT]
#                         [PAD_ROWS] [LF] [ART] [DITHER method] <picture>...)
#
# Provides the imported executable greyplanes::cli (the installed greyplanes-cli).

include("${CMAKE_CURRENT_LIST_DIR}/greyplanesTargets.cmake")

# The keywords of C and C++ that a picture's stem cannot be, as the converter's name rule has
# them (imaging/c_identifier.cpp); a test compares the two.
set(GREYPLANES_KEYWORDS
    _Alignas _Alignof _Atomic _BitInt _Bool _Complex _Decimal128 _Decimal32 _Decimal64
    _Generic _Imaginary _Noreturn _Static_assert _Thread_local alignas alignof and and_eq asm
    auto bitand bitor bool break case catch char char16_t char32_t char8_t class co_await
    co_return co_yield compl concept const const_cast consteval constexpr constinit continue
    decltype default delete do double dynamic_cast else enum explicit export extern false
    float for friend goto if inline int long mutable namespace new noexcept not not_eq nullptr
    operator or or_eq private protected public register reinterpret_cast requires restrict
    return short signed sizeof static static_assert static_cast struct switch template this
    thread_local throw true try typedef typeid typename typeof typeof_unqual union unsigned
    using virtual void volatile wchar_t while xor xor_eq)

# The C identifier a picture's stem becomes: anything but letters, digits and '_' becomes '_',
# a leading digit gets '_' in front. A keyword of C or C++ is refused, naming the picture.
function(greyplanes_image_name out picture stem)
    string(MAKE_C_IDENTIFIER "${stem}" name)
    if(name IN_LIST GREYPLANES_KEYWORDS)
        message(FATAL_ERROR "greyplanes_add_images: ${picture}: its name ${name} is a keyword "
                            "of C or C++; rename the picture")
    endif()
    set(${out} "${name}" PARENT_SCOPE)
endfunction()

# Converts each picture, when it or the converter changed, into
# ${CMAKE_CURRENT_BINARY_DIR}/greyplanes_<target>/greyplanes/<name>.h with
# `greyplanes-cli --complete --name <name>` and the options given, where <name> is the file's
# name without its last extension made into a C identifier (`tiny-1.bmp` gives tiny_1.h with
# tiny_1_d, tiny_1_l, tiny_1_width and tiny_1_height). The sources include it as
# `#include "greyplanes/tiny_1.h"`, so that no picture's header can hide a system header. Each
# target has its own headers, so one picture may go into two targets with different options.
# The target may be defined in any folder; the conversion runs in this one.
function(greyplanes_add_images target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "INVERT;PAD_ROWS;LF;ART"
                          "LAYOUT;WORD;TILE_ORDER;DITHER" "")
    if(NOT TARGET "${target}")
        message(FATAL_ERROR "greyplanes_add_images: ${target} is not a target")
    endif()
    get_target_property(aliased "${target}" ALIASED_TARGET)
    if(aliased)
        set(target "${aliased}")
    endif()
    get_target_property(imported "${target}" IMPORTED)
    if(imported)
        message(FATAL_ERROR "greyplanes_add_images: ${target} is an imported target")
    endif()
    foreach(keyword IN LISTS arg_KEYWORDS_MISSING_VALUES)
        message(FATAL_ERROR "greyplanes_add_images: ${keyword} without a value for ${target}")
    endforeach()
    if(NOT arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "greyplanes_add_images: no pictures given for ${target}")
    endif()
    set(options --complete -q)
    foreach(choice IN ITEMS LAYOUT WORD TILE_ORDER DITHER)
        if(DEFINED arg_${choice})
            string(TOLOWER "${choice}" option)
            string(REPLACE "_" "-" option "${option}")
            list(APPEND options "--${option}=${arg_${choice}}")
        endif()
    endforeach()
    foreach(flag IN ITEMS INVERT PAD_ROWS LF ART)
        if(arg_${flag})
            string(TOLOWER "${flag}" option)
            string(REPLACE "_" "-" option "${option}")
            list(APPEND options "--${option}")
        endif()
    endforeach()
    # Target names hold only letters, digits and _ . + -, which a folder name may hold too.
    set(include_dir "${CMAKE_CURRENT_BINARY_DIR}/greyplanes_${target}")
    set(dir "${include_dir}/greyplanes")
    set(headers)
    foreach(picture IN LISTS arg_UNPARSED_ARGUMENTS)
        get_filename_component(input "${picture}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        get_source_file_property(generated "${input}" GENERATED)
        if(NOT EXISTS "${input}" AND NOT generated)
            message(FATAL_ERROR "greyplanes_add_images: ${picture}: no such picture (${input})")
        endif()
        get_filename_component(stem "${input}" NAME_WLE)
        greyplanes_image_name(name "${picture}" "${stem}")
        set(header "${dir}/${name}.h")
        # One header per name in a target, made from one picture.
        get_property(made GLOBAL PROPERTY "GREYPLANES_IMAGE_${target}/${name}")
        if(made)
            message(FATAL_ERROR "greyplanes_add_images: ${picture}: ${target} has "
                                "greyplanes/${name}.h already, from ${made}")
        endif()
        set_property(GLOBAL PROPERTY "GREYPLANES_IMAGE_${target}/${name}" "${input}")
        add_custom_command(OUTPUT "${header}"
            COMMAND greyplanes::cli ${options} --name "${name}" -o "${header}" -- "${input}"
            DEPENDS "${input}" "$<TARGET_FILE:greyplanes::cli>"
            COMMENT "Converting ${picture} to greyplanes/${name}.h"
            VERBATIM)
        list(APPEND headers "${header}")
    endforeach()
    file(MAKE_DIRECTORY "${dir}")
    # The headers are made by a target of this folder, which the target waits for: a custom
    # command runs only for targets of the folder it is defined in.
    get_property(count GLOBAL PROPERTY "GREYPLANES_CALLS_${target}")
    if(NOT count)
        set(count 0)
    endif()
    math(EXPR count "${count} + 1")
    set_property(GLOBAL PROPERTY "GREYPLANES_CALLS_${target}" "${count}")
    set(maker "greyplanes_images_${target}_${count}")
    add_custom_target("${maker}" DEPENDS ${headers})
    add_dependencies("${target}" "${maker}")
    target_include_directories("${target}" PRIVATE "${include_dir}")
endfunction()
