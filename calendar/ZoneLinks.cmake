# Turns the tz database's links (tzdata.zi: "L target alias") into a C++ table of {alias, target},
# for the zones shipped with the Windows build, which has files for the target names only.
# Included with IN (tzdata.zi) and OUT (the table to write) set.
file(STRINGS "${IN}" lines REGEX "^L ")
set(body "")
foreach(line IN LISTS lines)
  if(line MATCHES "^L ([^ ]+) ([^ ]+)$")
    string(APPEND body "    {\"${CMAKE_MATCH_2}\", \"${CMAKE_MATCH_1}\"},\n")
  endif()
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from the tz database's tzdata.zi at build time.\n${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
