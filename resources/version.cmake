# The version resource's string table, written once. The Windows resource script and the Linux
# executable's version block are both made from it; the numbers come from project(VERSION).
set(VOLMO_MAKER "The Volmo authors")
set(VOLMO_VERSION_TEXT
  "${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, ${PROJECT_VERSION_PATCH}, ${PROJECT_VERSION_TWEAK}")

# Key=value, in the order the string table holds them.
set(VOLMO_VERSION_STRINGS
  "Comments="
  "CompanyName=${VOLMO_MAKER}"
  "FileDescription=Volmo"
  "FileVersion=${VOLMO_VERSION_TEXT}"
  "InternalName=Volmo"
  "LegalCopyright=Copyright (C) 2026 the Volmo authors. MIT licence."
  "LegalTrademarks="
  "OriginalFilename=Volmo.exe"
  "PrivateBuild="
  "ProductName=${VOLMO_MAKER} Volmo"
  "ProductVersion=${VOLMO_VERSION_TEXT}"
  "SpecialBuild=")

# The VALUE lines of the resource script, from the same table.
set(VOLMO_RC_STRING_VALUES "")
foreach(entry IN LISTS VOLMO_VERSION_STRINGS)
  string(FIND "${entry}" "=" split)
  string(SUBSTRING "${entry}" 0 ${split} key)
  math(EXPR value_start "${split} + 1")
  string(SUBSTRING "${entry}" ${value_start} -1 value)
  string(REPLACE "\"" "\"\"" value "${value}")
  string(APPEND VOLMO_RC_STRING_VALUES "            VALUE \"${key}\", \"${value}\"\n")
endforeach()
