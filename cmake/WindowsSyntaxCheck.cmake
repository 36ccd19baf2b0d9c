# Compiles each logic source for Windows, syntax only, with MinGW-w64: the logic must build on
# a system without POSIX, so whatever needs POSIX belongs in src/platform/posix/.
# cmake -DCOMPILER=<g++> -DSOURCE_DIR=<src> -DSOURCES=<a;b;...> -P WindowsSyntaxCheck.cmake
# Exits with 77 (skipped) when the compiler is not installed.
if(NOT EXISTS "${COMPILER}")
  message(NOTICE "skipped: ${COMPILER} is not installed (scripts/install-deps.sh installs it)")
  cmake_language(EXIT 77)
endif()
set(failures 0)
foreach(source ${SOURCES})
  execute_process(COMMAND "${COMPILER}" -std=c++20 -fsyntax-only "-I${SOURCE_DIR}" "${source}"
                  RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(NOTICE "${errors}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
list(LENGTH SOURCES count)
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of ${count} logic files do not compile for Windows")
endif()
message(NOTICE "${count} logic files compile for Windows")
