# cmake -DVALIDATOR=<desktop-file-validate|appstreamcli> -DFILE=<file> -P validate.cmake
# Fails on any error or warning the validator reports; skipped when it is not installed.
find_program(validator ${VALIDATOR})
if(NOT validator)
    message("SKIPPED: ${VALIDATOR} is not installed")
    return()
endif()
if(VALIDATOR STREQUAL "appstreamcli")
    # --no-net: nothing is looked up on the network (screenshots, URLs).
    set(command ${validator} validate --no-net ${FILE})
else()
    set(command ${validator} ${FILE})
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
# desktop-file-validate exits 0 on warnings; a warning is a fault here too.
if(NOT rc EQUAL 0 OR out MATCHES ": (error|warning): ")
    message(FATAL_ERROR "${VALIDATOR} rejects ${FILE}")
endif()
