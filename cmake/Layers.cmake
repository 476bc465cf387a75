# The layers, top down, as one table: each folder and the folders its files may include. A window
# folder sits on one floor with the other windows and may use those it is built on (the
# appointment editor picks a contact; the options dialog sets the alerts). Read at every
# configure; an include the table does not allow stops the build, naming the file and the line.
#
#   app
#    └─ windows: contacts calendar exchange printing dialogs
#        └─ ui (shared widgets, the widget side of the desktop seam)
#            └─ sync (a phone's address book and calendar through a sync server)
#                └─ formats (other programs' files)   data (databases)
#                    └─ platform (the desktop seam)
set(KESTREL_LAYERS
  "app       : app contacts calendar exchange printing dialogs ui sync formats data platform"
  "contacts  : contacts ui formats data platform"
  "calendar  : calendar contacts ui formats data platform"
  "exchange  : exchange ui formats data platform"
  "printing  : printing ui formats data platform"
  "dialogs   : dialogs calendar ui sync formats data platform"
  "ui        : ui data platform"
  "sync      : sync formats data platform"
  "formats   : formats data platform"
  "data      : data platform"
  "platform  : platform")

# Engine C APIs stay in data/.
set(KESTREL_ENGINE_PATTERNS "sqlite3_" "libpq-fe\\.h")

function(_kestrel_line_of content offset out)
  string(SUBSTRING "${content}" 0 ${offset} _before)
  string(REGEX MATCHALL "\n" _nl "${_before}")
  list(LENGTH _nl _n)
  math(EXPR _n "${_n} + 1")
  set(${out} ${_n} PARENT_SCOPE)
endfunction()

set(_folders)
foreach(_row IN LISTS KESTREL_LAYERS)
  string(REGEX REPLACE "^([a-z]+) *:.*" "\\1" _folder "${_row}")
  string(REGEX REPLACE "^[a-z]+ *: *" "" _allowed "${_row}")
  separate_arguments(_allowed UNIX_COMMAND "${_allowed}")
  set(_allowed_${_folder} ${_allowed})
  list(APPEND _folders ${_folder})
endforeach()

foreach(_folder IN LISTS _folders)
  file(GLOB _files RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/${_folder}/*.cpp ${CMAKE_SOURCE_DIR}/${_folder}/*.h)
  foreach(_src IN LISTS _files)
    file(READ ${CMAKE_SOURCE_DIR}/${_src} _content)
    string(REGEX MATCHALL "#[ \t]*include[ \t]*\"[a-z_]+/" _includes "${_content}")
    foreach(_inc IN LISTS _includes)
      string(REGEX REPLACE ".*\"([a-z_]+)/" "\\1" _target "${_inc}")
      if(NOT _target IN_LIST _folders)
        continue()
      endif()
      if(NOT _target IN_LIST _allowed_${_folder})
        string(FIND "${_content}" "${_inc}" _at)
        _kestrel_line_of("${_content}" ${_at} _line)
        string(JOIN " " _may ${_allowed_${_folder}})
        message(FATAL_ERROR "${_src}:${_line}: ${_folder}/ may not include ${_target}/ "
          "(it may include: ${_may}; the table is in cmake/Layers.cmake)")
      endif()
    endforeach()
    if(NOT _folder STREQUAL "data")
      foreach(_pattern IN LISTS KESTREL_ENGINE_PATTERNS)
        string(REGEX MATCH "${_pattern}" _hit "${_content}")
        if(_hit)
          string(FIND "${_content}" "${_hit}" _at)
          _kestrel_line_of("${_content}" ${_at} _line)
          message(FATAL_ERROR "${_src}:${_line}: the database engines' C APIs are used in data/ alone")
        endif()
      endforeach()
    endif()
  endforeach()
endforeach()
