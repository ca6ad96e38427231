# Runs at install time, after the program is installed: writes the desktop entry with the
# installed program's absolute path (~/.local/bin is not always on PATH) and installs it.
# The caller sets YUX_DESKTOP_TEMPLATE and YUX_DESKTOP_STAGING (a folder in the build tree).
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
set(program "${prefix}/bin/yux")
if(program MATCHES "[\n\r]")
  message(FATAL_ERROR "The install prefix contains a line break; a desktop entry cannot name it.")
endif()
if(program MATCHES "^[A-Za-z0-9/._+-]+$")
  set(exec "${program}")
else()
  # Quoting of the Exec key, then the string-level escape of the value, then the field codes' percent.
  string(REPLACE "\\" "\\\\" quoted "${program}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  string(REPLACE "`" "\\`" quoted "${quoted}")
  string(REPLACE "$" "\\$" quoted "${quoted}")
  string(REPLACE "\\" "\\\\" quoted "${quoted}")
  string(REPLACE "%" "%%" quoted "${quoted}")
  set(exec "\"${quoted}\"")
endif()
file(READ "${YUX_DESKTOP_TEMPLATE}" entry)
string(REPLACE "@YUX_EXEC@" "${exec}" entry "${entry}")
file(WRITE "${YUX_DESKTOP_STAGING}/com.zt.yux.desktop" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${YUX_DESKTOP_STAGING}/com.zt.yux.desktop")
