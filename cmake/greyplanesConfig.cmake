# greyplanes: pictures converted to C headers as a build step.
#
#   find_package(greyplanes REQUIRED)
#   greyplanes_add_images(<target> [LAYOUT name] [WORD n] [TILE_ORDER order] [INVERT]
#                         [BIT_ORDER order] [TILE_MAP] [TILE_BASE n] [PAD_ROWS] [LF] [ART]
#                         [DITHER method] [GREY rule] [BRIGHTNESS b] [CONTRAST c] [GAMMA g]
#                         [THRESHOLDS a,b,c] [LEVELS k,d,l,w] [ROTATE angle] [FLIP axis]
#                         [SIZE WxH|Wx|xH] [FIT fit] [BACKGROUND RRGGBB] [FRAMES WxH]
#                         [FRAME_ORDER order] [MASK ones|zeros] [TRANSPARENT RRGGBB]
#                         <picture>...)
#   greyplanes_add_frames(<target> NAME <name> [the same keywords but FRAMES, FRAME_ORDER]
#                         <picture>...)
#
# Provides the imported executable greyplanes::cli (the installed greyplanes-cli).

include("${CMAKE_CURRENT_LIST_DIR}/greyplanesTargets.cmake")

# The functions keep these whatever the project's policies are: a quoted word is never taken for
# a variable of that name, and if() knows IN_LIST.
cmake_policy(PUSH)
cmake_policy(SET CMP0054 NEW)
cmake_policy(SET CMP0057 NEW)

# The keywords of C and C++ that a picture's stem cannot be, as the converter's name rule has
# them (ctext/c_identifier.cpp); a test compares the two.
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

# The values each keyword of greyplanes_add_images takes, as the converter's options have them.
set(GREYPLANES_LAYOUT_VALUES planes gb packed2 nibble4 pages lvgl)
set(GREYPLANES_WORD_VALUES 8 16 32)
set(GREYPLANES_TILE_ORDER_VALUES rows columns 8x16)
set(GREYPLANES_BIT_ORDER_VALUES msb lsb)
set(GREYPLANES_DITHER_VALUES none floyd-steinberg atkinson bayer)
set(GREYPLANES_GREY_VALUES average luma)
set(GREYPLANES_ROTATE_VALUES 90 180 270)
set(GREYPLANES_FLIP_VALUES h v)
set(GREYPLANES_FIT_VALUES contain cover stretch)
set(GREYPLANES_FRAME_ORDER_VALUES rows columns)
set(GREYPLANES_MASK_VALUES ones zeros)
# The values that are not words of a list: a pattern, and how the refusal describes it. Their
# shape is checked here, their range by the converter when it runs (a side of SIZE past 32767
# matches here).
set(GREYPLANES_TILE_BASE_PATTERN "^[0-9]+$")
set(GREYPLANES_TILE_BASE_FORM "a whole number from 0 to 255")
set(GREYPLANES_BRIGHTNESS_PATTERN "^-?[0-9]+$")
set(GREYPLANES_BRIGHTNESS_FORM "a whole number")
set(GREYPLANES_CONTRAST_PATTERN "^-?[0-9]+$")
set(GREYPLANES_CONTRAST_FORM "a whole number")
set(GREYPLANES_GAMMA_PATTERN "^[0-9]*[.]?[0-9]+$")
set(GREYPLANES_GAMMA_FORM "a number such as 1.5")
set(GREYPLANES_THRESHOLDS_PATTERN "^[0-9]+,[0-9]+,[0-9]+$")
set(GREYPLANES_THRESHOLDS_FORM "three whole numbers A,B,C")
set(GREYPLANES_LEVELS_PATTERN "^[0-9]+,[0-9]+,[0-9]+,[0-9]+$")
set(GREYPLANES_LEVELS_FORM "four whole numbers K,D,L,W")
set(GREYPLANES_SIZE_PATTERN "^([1-9][0-9]?[0-9]?[0-9]?[0-9]?)?x([1-9][0-9]?[0-9]?[0-9]?[0-9]?)?$")
set(GREYPLANES_SIZE_FORM "WxH, Wx or xH in pixels")
set(GREYPLANES_BACKGROUND_PATTERN "^[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]$")
set(GREYPLANES_BACKGROUND_FORM "six hex digits RRGGBB")
set(GREYPLANES_FRAMES_PATTERN "^[1-9][0-9]?[0-9]?[0-9]?[0-9]?x[1-9][0-9]?[0-9]?[0-9]?[0-9]?$")
set(GREYPLANES_FRAMES_FORM "WxH in pixels")
set(GREYPLANES_TRANSPARENT_PATTERN "${GREYPLANES_BACKGROUND_PATTERN}")
set(GREYPLANES_TRANSPARENT_FORM "six hex digits RRGGBB")

# The identifiers that a picture's complete header defines: its guard, the extent's macros
# (and the tile count's, for gb, with a map's; the frames' with frames), and its arrays (an lvgl
# picture's data and descriptor; the mask).
function(greyplanes_image_identifiers out name layout mapped framed masked)
    set(ids "GREYPLANES_${name}_H" "${name}_width" "${name}_height")
    if(framed)
        list(APPEND ids "${name}_frames" "${name}_frame_size")
    endif()
    if(masked)
        list(APPEND ids "${name}_m")
        if(framed)
            list(APPEND ids "${name}_m_frame_size")
        endif()
    endif()
    if(layout STREQUAL "gb")
        list(APPEND ids "${name}_tiles")
        if(mapped)
            list(APPEND ids "${name}_map" "${name}_map_width" "${name}_map_height")
        endif()
    endif()
    if(layout STREQUAL "planes" OR layout STREQUAL "pages")
        list(APPEND ids "${name}_d" "${name}_l")
    elseif(layout STREQUAL "lvgl")
        list(APPEND ids "${name}" "${name}_map")
    else()
        list(APPEND ids "${name}")
    endif()
    set(${out} "${ids}" PARENT_SCOPE)
endfunction()

# The target the headers go to, checked; an alias stands for the target it names.
function(_greyplanes_target out caller target)
    if(NOT TARGET "${target}")
        message(FATAL_ERROR "${caller}: ${target} is not a target")
    endif()
    get_target_property(aliased "${target}" ALIASED_TARGET)
    if(aliased)
        set(target "${aliased}")
    endif()
    get_target_property(imported "${target}" IMPORTED)
    if(imported)
        message(FATAL_ERROR "${caller}: ${target} is an imported target")
    endif()
    # CMake lists split at ';': a folder holding one would be taken apart in the rules below.
    if(CMAKE_CURRENT_BINARY_DIR MATCHES ";")
        message(FATAL_ERROR "${caller}: ${CMAKE_CURRENT_BINARY_DIR}: the build "
                            "folder's name holds ';', which CMake cannot pass on whole")
    endif()
    set(${out} "${target}" PARENT_SCOPE)
endfunction()

# Reads the keywords and pictures among the caller's arguments, which it copies one by one into
# _greyplanes_arg<first> to _greyplanes_arg<last>: cmake_parse_arguments, or passing ARGN on,
# would take an empty value as none and a value holding ';' as several. Sets _greyplanes_options
# (the converter's), _greyplanes_layout, _greyplanes_given (the keywords) and
# _greyplanes_pictures in the caller.
function(_greyplanes_read caller target first last refused)
    set(keywords LAYOUT WORD TILE_ORDER BIT_ORDER TILE_BASE DITHER INVERT TILE_MAP PAD_ROWS LF
                 ART)
    list(APPEND keywords GREY BRIGHTNESS CONTRAST GAMMA THRESHOLDS LEVELS)
    list(APPEND keywords ROTATE FLIP SIZE FIT BACKGROUND)
    list(APPEND keywords FRAMES FRAME_ORDER MASK TRANSPARENT)
    set(options --complete -q)
    set(layout planes)
    set(pictures)
    set(given)
    set(i ${first})
    while(i LESS_EQUAL last)
        set(argument "${_greyplanes_arg${i}}")
        math(EXPR i "${i} + 1")
        list(FIND keywords "${argument}" keyword)
        if(NOT keyword EQUAL -1)
            if(argument IN_LIST refused)
                message(FATAL_ERROR "${caller}: ${argument} does not apply: each picture is a "
                                    "frame of ${target}'s header")
            endif()
            list(FIND given "${argument}" twice)
            if(NOT twice EQUAL -1)
                message(FATAL_ERROR "${caller}: ${argument} given twice for ${target}")
            endif()
            list(APPEND given "${argument}")
            string(TOLOWER "--${argument}" option)
            string(REPLACE "_" "-" option "${option}")
            if(NOT DEFINED GREYPLANES_${argument}_VALUES AND
               NOT DEFINED GREYPLANES_${argument}_PATTERN)
                list(APPEND options "${option}")
                continue()
            endif()
            if(i GREATER last)
                message(FATAL_ERROR "${caller}: ${argument} without a value for ${target}")
            endif()
            set(value "${_greyplanes_arg${i}}")
            math(EXPR i "${i} + 1")
            if(DEFINED GREYPLANES_${argument}_PATTERN)
                if(NOT value MATCHES "${GREYPLANES_${argument}_PATTERN}" OR value STREQUAL "x"
                   OR (argument STREQUAL "TILE_BASE" AND value GREATER 255))
                    message(FATAL_ERROR "${caller}: ${argument} \"${value}\" for "
                                        "${target}: the value is ${GREYPLANES_${argument}_FORM}")
                endif()
                list(APPEND options "${option}=${value}")
                continue()
            endif()
            list(FIND GREYPLANES_${argument}_VALUES "${value}" known)
            if(known EQUAL -1)
                string(REPLACE ";" ", " words "${GREYPLANES_${argument}_VALUES}")
                message(FATAL_ERROR "${caller}: ${argument} \"${value}\" for "
                                    "${target}: the value is one of ${words}")
            endif()
            list(APPEND options "${option}=${value}")
            if(argument STREQUAL "LAYOUT")
                set(layout "${value}")
            endif()
        elseif(argument STREQUAL "")
            message(FATAL_ERROR "${caller}: an empty picture name for ${target}")
        else()
            # Escaped, so that the list keeps a name that holds ';' whole until it is refused.
            string(REPLACE ";" "\\;" argument "${argument}")
            list(APPEND pictures "${argument}")
        endif()
    endwhile()
    if(NOT pictures)
        message(FATAL_ERROR "${caller}: no pictures given for ${target}")
    endif()
    set(_greyplanes_options "${options}" PARENT_SCOPE)
    set(_greyplanes_layout "${layout}" PARENT_SCOPE)
    set(_greyplanes_given "${given}" PARENT_SCOPE)
    set(_greyplanes_pictures "${pictures}" PARENT_SCOPE)
endfunction()

# The picture's absolute path, checked.
function(_greyplanes_input out caller picture)
    get_filename_component(input "${picture}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(input MATCHES ";")
        message(FATAL_ERROR "${caller}: ${picture}: the picture's path holds ';', "
                            "which CMake cannot pass on whole (${input})")
    endif()
    get_source_file_property(generated "${input}" GENERATED)
    if(NOT EXISTS "${input}" AND NOT generated)
        message(FATAL_ERROR "${caller}: ${picture}: no such picture (${input})")
    endif()
    if(IS_DIRECTORY "${input}")
        message(FATAL_ERROR "${caller}: ${picture}: a folder, not a picture")
    endif()
    set(${out} "${input}" PARENT_SCOPE)
endfunction()

# Claims greyplanes/<name>.h in the target for `source`, and the identifiers it defines: two
# headers of one target may be included together, so none may define what another does (`logo`
# in gb defines the macro logo_width, `logo_width` the array logo_width).
function(_greyplanes_claim caller target picture source name framed)
    get_property(made GLOBAL PROPERTY "GREYPLANES_IMAGE_${target}/${name}")
    if(made)
        message(FATAL_ERROR "${caller}: ${picture}: ${target} has greyplanes/${name}.h already, "
                            "from ${made}")
    endif()
    set_property(GLOBAL PROPERTY "GREYPLANES_IMAGE_${target}/${name}" "${source}")
    set(mapped FALSE)
    if("TILE_MAP" IN_LIST _greyplanes_given)
        set(mapped TRUE)
    endif()
    set(masked FALSE)
    if("MASK" IN_LIST _greyplanes_given)
        set(masked TRUE)
    endif()
    greyplanes_image_identifiers(identifiers "${name}" "${_greyplanes_layout}" "${mapped}"
                                 "${framed}" "${masked}")
    foreach(identifier IN LISTS identifiers)
        get_property(owner GLOBAL PROPERTY "GREYPLANES_ID_${target}/${identifier}")
        if(owner)
            message(FATAL_ERROR "${caller}: ${picture}: greyplanes/${name}.h defines "
                                "${identifier}, which ${owner} defines too in ${target}; rename "
                                "one of them")
        endif()
    endforeach()
    foreach(identifier IN LISTS identifiers)
        set_property(GLOBAL PROPERTY "GREYPLANES_ID_${target}/${identifier}" "${source}")
    endforeach()
endfunction()

# The headers are made by a target of this folder, which the target waits for: a custom
# command runs only for targets of the folder it is defined in.
function(_greyplanes_attach target include_dir headers)
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

# Converts each picture, when it or the converter changed, into
# ${CMAKE_CURRENT_BINARY_DIR}/greyplanes_<target>/greyplanes/<name>.h with
# `greyplanes-cli --complete --name <name>` and the options given, where <name> is the file's
# name without its last extension made into a C identifier (`tiny-1.bmp` gives tiny_1.h with
# tiny_1_d, tiny_1_l, tiny_1_width and tiny_1_height). The sources include it as
# `#include "greyplanes/tiny_1.h"`, so that no picture's header can hide a system header. Each
# target has its own headers, so one picture may go into two targets with different options;
# within a target no two pictures may define the same identifier. The target may be defined in
# any folder; the conversion runs in this one. Every argument is checked here, at configure: a
# value that is not one word the converter knows could otherwise become options of its own.
function(greyplanes_add_images target)
    set(caller greyplanes_add_images)
    _greyplanes_target(target ${caller} "${target}")
    math(EXPR last "${ARGC} - 1")
    set(i 1)
    while(i LESS_EQUAL last)
        set(_greyplanes_arg${i} "${ARGV${i}}")
        math(EXPR i "${i} + 1")
    endwhile()
    _greyplanes_read(${caller} "${target}" 1 ${last} "")
    # Target names hold only letters, digits and _ . + -, which a folder name may hold too.
    set(include_dir "${CMAKE_CURRENT_BINARY_DIR}/greyplanes_${target}")
    set(dir "${include_dir}/greyplanes")
    set(framed FALSE)
    if("FRAMES" IN_LIST _greyplanes_given)
        set(framed TRUE)
    endif()
    set(headers)
    foreach(picture IN LISTS _greyplanes_pictures)
        _greyplanes_input(input ${caller} "${picture}")
        get_filename_component(stem "${input}" NAME_WLE)
        if(stem STREQUAL "")
            message(FATAL_ERROR "${caller}: ${picture}: the picture's name before its "
                                "extension is empty, and names its arrays; rename the picture")
        endif()
        greyplanes_image_name(name "${picture}" "${stem}")
        set(header "${dir}/${name}.h")
        _greyplanes_claim(${caller} "${target}" "${picture}" "${input}" "${name}" "${framed}")
        add_custom_command(OUTPUT "${header}"
            COMMAND greyplanes::cli ${_greyplanes_options} --name "${name}" -o "${header}" --
                    "${input}"
            DEPENDS "${input}" "$<TARGET_FILE:greyplanes::cli>"
            COMMENT "Converting ${picture} to greyplanes/${name}.h"
            VERBATIM)
        list(APPEND headers "${header}")
    endforeach()
    file(MAKE_DIRECTORY "${dir}")
    _greyplanes_attach("${target}" "${include_dir}" "${headers}")
endfunction()

# Converts the pictures, all of one size, into one header
# ${CMAKE_CURRENT_BINARY_DIR}/greyplanes_<target>/greyplanes/<name>.h that holds them as frames,
# in the order given: `greyplanes-cli --complete --name <name>` with the options and every
# picture. The header defines <name>_frames and <name>_frame_size as well.
function(greyplanes_add_frames target)
    set(caller greyplanes_add_frames)
    _greyplanes_target(target ${caller} "${target}")
    if(ARGC LESS 3 OR NOT ARGV1 STREQUAL "NAME")
        message(FATAL_ERROR "${caller}: NAME <name> must follow the target ${target}")
    endif()
    set(name "${ARGV2}")
    string(MAKE_C_IDENTIFIER "${name}" identifier)
    if(NOT name STREQUAL identifier)
        message(FATAL_ERROR "${caller}: NAME \"${name}\" for ${target}: the value is a C "
                            "identifier")
    endif()
    if(name IN_LIST GREYPLANES_KEYWORDS)
        message(FATAL_ERROR "${caller}: NAME \"${name}\" for ${target}: a keyword of C or C++")
    endif()
    math(EXPR last "${ARGC} - 1")
    set(i 3)
    while(i LESS_EQUAL last)
        set(_greyplanes_arg${i} "${ARGV${i}}")
        math(EXPR i "${i} + 1")
    endwhile()
    _greyplanes_read(${caller} "${target}" 3 ${last} "FRAMES;FRAME_ORDER")
    set(include_dir "${CMAKE_CURRENT_BINARY_DIR}/greyplanes_${target}")
    set(dir "${include_dir}/greyplanes")
    set(header "${dir}/${name}.h")
    set(inputs)
    foreach(picture IN LISTS _greyplanes_pictures)
        _greyplanes_input(input ${caller} "${picture}")
        list(APPEND inputs "${input}")
    endforeach()
    list(LENGTH inputs count)
    set(framed FALSE)
    if(count GREATER 1)
        set(framed TRUE)
    endif()
    _greyplanes_claim(${caller} "${target}" "${name}" "frames of ${name}" "${name}" "${framed}")
    add_custom_command(OUTPUT "${header}"
        COMMAND greyplanes::cli ${_greyplanes_options} --name "${name}" -o "${header}" --
                ${inputs}
        DEPENDS ${inputs} "$<TARGET_FILE:greyplanes::cli>"
        COMMENT "Converting ${count} frames to greyplanes/${name}.h"
        VERBATIM)
    file(MAKE_DIRECTORY "${dir}")
    _greyplanes_attach("${target}" "${include_dir}" "${header}")
endfunction()

cmake_policy(POP)
