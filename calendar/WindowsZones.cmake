# Turns CLDR's windowsZones.xml into a C++ table of {Windows zone id, territory, IANA ids}.
# Included with IN (windowsZones.xml) and OUT (the table to write) set.
file(STRINGS "${IN}" lines REGEX "<mapZone ")
set(body "")
foreach(line IN LISTS lines)
  if(line MATCHES "other=\"([^\"]+)\" territory=\"([^\"]+)\" type=\"([^\"]+)\"")
    string(APPEND body "    {\"${CMAKE_MATCH_1}\", \"${CMAKE_MATCH_2}\", \"${CMAKE_MATCH_3}\"},\n")
  endif()
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from CLDR windowsZones.xml at build time.\n${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
