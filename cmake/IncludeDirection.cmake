# The folders of src/, each with the folders its files may include; a file may always include
# its own folder. Every arrow points down this list, so the data path reads from the bottom up:
# interfaces and text, the event, the settings, the shared state, diagnostics, the alarm-server
# side, the input side, the application; the Qt and POSIX implementations sit above the logic.
#
# Run as "cmake -DSOURCE_DIR=<src> -P IncludeDirection.cmake": an include of a folder that is
# not allowed fails with its file:line.
set(FOLDER_RULES
  # The operating system and the windows as the logic sees them: standard library only.
  "platform:"
  "ui:"
  # Pure text helpers: numbers, dates, fields, character sets, the INI reader.
  "text: platform"
  # The event: parsed from a received line, formatted for the alarm server.
  "event: text platform"
  # Typed settings read from the INI file, and their checks.
  "config: event text platform"
  # What more than one part shares for the life of the process.
  "state: config event text platform"
  # The daily log, the trace, the rejected lines.
  "diag: state config event text ui platform"
  # The alarm-server side.
  "output: diag state config event text ui platform"
  # The input ports.
  "input: output diag state config event text ui platform"
  # Start-up, the gateway and the status it shows.
  "app: input output diag state config event text ui platform"
  # Implementations of the platform interfaces: they know nothing of the gateway.
  "platform/posix: text platform"
  "platform/qt: platform/posix text platform"
  # The windows and the Qt parts of the application.
  "ui/qt: app input output diag state config event text ui platform/qt platform"
  "app/qt: ui/qt app input output diag state config event text ui platform/qt platform/posix platform"
  # The executable: it assembles everything.
  "app/main.cpp: app/qt ui/qt app input output diag state config event text ui platform/qt platform/posix platform")

# The folder (or file) of a path below src/ that has a rule: the longest rule name that begins it.
function(rule_of path result)
  set(best "")
  foreach(rule ${FOLDER_RULES})
    string(REGEX REPLACE ":.*" "" name "${rule}")
    string(LENGTH "${name}" length)
    string(LENGTH "${best}" bestLength)
    if((path STREQUAL name OR path MATCHES "^${name}/") AND length GREATER bestLength)
      set(best "${name}")
    endif()
  endforeach()
  set(${result} "${best}" PARENT_SCOPE)
endfunction()

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "IncludeDirection.cmake needs -DSOURCE_DIR=<the src folder>")
endif()
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
list(SORT files)
set(failures 0)
foreach(file ${files})
  rule_of("${file}" from)
  if(from STREQUAL "")
    message(NOTICE "src/${file}: no folder rule in cmake/IncludeDirection.cmake")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  foreach(rule ${FOLDER_RULES})
    if(rule MATCHES "^${from}:(.*)$")
      string(REGEX MATCHALL "[^ ]+" allowed "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  file(STRINGS "${SOURCE_DIR}/${file}" lines)
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
      continue()
    endif()
    set(included "${CMAKE_MATCH_1}")
    rule_of("${included}" to)
    get_filename_component(fromFolder "${file}" DIRECTORY)
    get_filename_component(toFolder "${included}" DIRECTORY)
    if(to STREQUAL from OR toFolder STREQUAL fromFolder)
      continue()
    endif()
    list(FIND allowed "${to}" found)
    if(found EQUAL -1)
      message(NOTICE "src/${file}:${number}: ${from} may not include ${included}")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} includes point up the folder order (cmake/IncludeDirection.cmake)")
endif()
