function(qz_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Wcast-qual -Wformat=2)
  if(QZ_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
