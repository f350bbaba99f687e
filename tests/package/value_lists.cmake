# The CMake function's lists of values are copies of the converter's: each list must be exactly
# what the converter's refusal of a bad value names, and the converter must take each value.
# Run as: cmake -DCLI=greyplanes-cli -DCONFIG=greyplanesConfig.cmake -P value_lists.cmake
file(READ "${CONFIG}" config)
set(failed FALSE)
foreach(pair "LAYOUT;--layout" "WORD;--word" "TILE_ORDER;--tile-order" "BIT_ORDER;--bit-order"
        "DITHER;--dither" "GREY;--grey" "ROTATE;--rotate" "FLIP;--flip" "FIT;--fit")
    list(GET pair 0 keyword)
    list(GET pair 1 option)
    if(NOT config MATCHES "set\\(GREYPLANES_${keyword}_VALUES ([^)]*)\\)")
        message(SEND_ERROR "${CONFIG} has no GREYPLANES_${keyword}_VALUES")
        continue()
    endif()
    string(REPLACE " " ";" ours "${CMAKE_MATCH_1}")
    # "bad LAYOUT 'x' for --layout: it is planes, gb, packed2 or nibble4"
    execute_process(COMMAND "${CLI}" ${option} "?" in ERROR_VARIABLE said OUTPUT_QUIET)
    if(NOT said MATCHES ": it is ([^\n]*)\n")
        message(SEND_ERROR "${option} ?: unexpected refusal: ${said}")
        continue()
    endif()
    string(REGEX REPLACE "(, | or )" ";" theirs "${CMAKE_MATCH_1}")
    if(NOT ours STREQUAL theirs)
        message(SEND_ERROR "GREYPLANES_${keyword}_VALUES is ${ours}; ${option} takes ${theirs}")
    endif()
    # Each value is taken: the run gets as far as the missing input (1), not a usage error (2).
    foreach(value ${ours})
        set(layout)
        if(option STREQUAL "--tile-order")
            set(layout --layout gb)
        elseif(option STREQUAL "--fit")
            set(layout --size 4x3)
        endif()
        execute_process(COMMAND "${CLI}" ${layout} ${option} ${value} no-such-input.bmp
                        RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
        if(NOT status EQUAL 1)
            message(SEND_ERROR "${option} ${value}: exit status ${status}: ${said}")
        endif()
    endforeach()
endforeach()
