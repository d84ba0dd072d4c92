# spdlog and fmt from Debian, header-only. For the cross build only their two folders are put
# on the include path (through links in the build tree), never the host's whole /usr/include.
find_path(QZ_SPDLOG_HEADERS spdlog/spdlog.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(QZ_FMT_HEADERS fmt/format.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(QZ_THIRD_PARTY_INCLUDE ${PROJECT_BINARY_DIR}/third_party_include)
file(MAKE_DIRECTORY ${QZ_THIRD_PARTY_INCLUDE})
foreach(dir spdlog fmt)
  if(dir STREQUAL "spdlog")
    set(source ${QZ_SPDLOG_HEADERS}/spdlog)
  else()
    set(source ${QZ_FMT_HEADERS}/fmt)
  endif()
  file(CREATE_LINK ${source} ${QZ_THIRD_PARTY_INCLUDE}/${dir} SYMBOLIC)
endforeach()

add_library(qz_spdlog INTERFACE)
# SYSTEM: GCC 12 warns falsely inside these headers.
target_include_directories(qz_spdlog SYSTEM INTERFACE ${QZ_THIRD_PARTY_INCLUDE})
target_compile_definitions(qz_spdlog INTERFACE FMT_HEADER_ONLY)
