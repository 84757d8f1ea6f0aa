# Fails when a source under SOURCE_DIR includes a header from plugin/, or its build names plugin/ or
# one of its targets: shading sits below the operator. Run as: cmake -DSOURCE_DIR=<dir> -P <this file>
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE sources "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
file(GLOB_RECURSE builds "${SOURCE_DIR}/CMakeLists.txt")
if(NOT sources OR NOT builds)
  message(FATAL_ERROR "no sources or no CMakeLists.txt under ${SOURCE_DIR}")
endif()

set(offenders "")
function(report file lines)
  file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
  foreach(line IN LISTS lines)
    string(APPEND offenders "\n  ${name}: ${line}")
  endforeach()
  set(offenders "${offenders}" PARENT_SCOPE)
endfunction()

foreach(f IN LISTS sources)
  file(STRINGS "${f}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"][^>\"]*plugin/")
  report("${f}" "${lines}")
endforeach()
foreach(f IN LISTS builds)
  file(STRINGS "${f}" lines REGEX "(plugin/|quorlen_plugin_parts|[ \t(]Quorlen([ \t)]|$))")
  # Comments may name plugin/; only commands count.
  list(FILTER lines EXCLUDE REGEX "^[ \t]*#")
  report("${f}" "${lines}")
endforeach()

if(offenders)
  message(FATAL_ERROR "shading/ must not depend on plugin/:${offenders}")
endif()
