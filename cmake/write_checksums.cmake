# Writes SHA256SUMS for the bundle: "hash  path" per shipped file, paths relative to the bundle's
# folder with "/", sorted, LF line ends (the form sha256sum -c reads).
#   cmake -DOUTPUT=file -DEXECUTABLE=exe -DREADME=file -DPACKAGE=Drivers-folder -P write_checksums.cmake
cmake_minimum_required(VERSION 3.25)

set(entries)
foreach(pair IN ITEMS "QZ_DriverSetup.exe|${EXECUTABLE}" "README.txt|${README}")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 shipped)
  list(GET pair 1 source)
  file(SHA256 "${source}" hash)
  list(APPEND entries "${shipped}|${hash}")
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
file(WRITE "${OUTPUT}" "${text}")
