# tarnel_python_with(<variable> IMPORTS <modules> NEEDED_BY <who> PACKAGES <Debian packages>)
# Sets <variable> to the first interpreter, the Python CMake found or Debian's
# /usr/bin/python3, that imports every one of <modules> (a comma-separated
# list, as after "import"): a python3 of its own earlier on PATH may lack
# Debian's packages. Without one the configuration stops with a line that
# names the packages to install.
function(tarnel_python_with variable)
  cmake_parse_arguments(ARG "" "IMPORTS;NEEDED_BY;PACKAGES" "" ${ARGN})
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  foreach(candidate ${Python3_EXECUTABLE} /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import ${ARG_IMPORTS}"
                    RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
    if(missing EQUAL 0)
      set(${variable} ${candidate} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${ARG_NEEDED_BY} need the Python modules ${ARG_IMPORTS} (Debian packages ${ARG_PACKAGES}) "
                      "— ${tarnel_test_tools_fix}")
endfunction()
