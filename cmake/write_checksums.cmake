# Writes BUNDLE/SHA256SUMS: "hash  path" for every file staged in BUNDLE (the programs, the
# read-me and the deploy scripts) and every file of the driver package under "Drivers/", paths
# relative to the bundle's folder with "/", sorted, LF line ends (the form sha256sum -c reads).
#   cmake -DBUNDLE=staging-folder -DPACKAGE=Drivers-folder -P write_checksums.cmake
cmake_minimum_required(VERSION 3.25)

set(entries)
file(GLOB staged LIST_DIRECTORIES false RELATIVE "${BUNDLE}" "${BUNDLE}/*" "${BUNDLE}/deploy/*")
foreach(relative IN LISTS staged)
  if(relative STREQUAL "SHA256SUMS" OR relative MATCHES "\\.signing$")
    continue()
  endif()
  file(SHA256 "${BUNDLE}/${relative}" hash)
  list(APPEND entries "${relative}|${hash}")
endforeach()
file(GLOB_RECURSE package_files LIST_DIRECTORIES false RELATIVE "${PACKAGE}" "${PACKAGE}/*")
foreach(relative IN LISTS package_files)
  file(SHA256 "${PACKAGE}/${relative}" hash)
  list(APPEND entries "Drivers/${relative}|${hash}")
endforeach()
list(SORT entries)

set(text "")
foreach(entry IN LISTS entries)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 shipped)
  list(GET entry 1 hash)
  string(APPEND text "${hash}  ${shipped}\n")
endforeach()
file(WRITE "${BUNDLE}/SHA256SUMS" "${text}")
