# Warnings set per target, so a target that is not ours (Qt's own generated
# code, a fuzz driver) is not forced to our level.
function(rv38t_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra)
  endif()
endfunction()
