# Warnings and sanitizers for every target of the project.
add_compile_options(-Wall -Wextra)
option(TARNEL_WERROR "Treat compiler warnings as errors" OFF)
if(TARNEL_WERROR)
  add_compile_options(-Werror)
endif()

if(TARNEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined)
endif()

# Environment every test runs with. Sanitized binaries that run under the
# umockdev preload need the link-order check off (the preload comes first).
set(TARNEL_TEST_ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen"
    "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=0"
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# add_tarnel_test(NAME name COMMAND cmd... [UNDER_EMULATOR emulator-args...])
# Registers one CTest test with the common environment. With UNDER_EMULATOR the
# command runs inside board-emulator with the given options.
function(add_tarnel_test)
  cmake_parse_arguments(ARG "" "NAME" "COMMAND;UNDER_EMULATOR;ENVIRONMENT" ${ARGN})
  set(cmd ${ARG_COMMAND})
  if(DEFINED ARG_UNDER_EMULATOR OR "UNDER_EMULATOR" IN_LIST ARGN)
    set(cmd $<TARGET_FILE:board-emulator> ${ARG_UNDER_EMULATOR} -- ${ARG_COMMAND})
  endif()
  add_test(NAME ${ARG_NAME} COMMAND ${cmd})
  set_tests_properties(${ARG_NAME} PROPERTIES
    ENVIRONMENT "${TARNEL_TEST_ENVIRONMENT};${ARG_ENVIRONMENT}"
    TIMEOUT 120)
endfunction()
