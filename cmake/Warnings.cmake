# Project-wide warning flags; applied through tq5_apply_warnings(target).
function(tq5_apply_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${TQ5_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
      -Wno-sign-conversion $<$<BOOL:${TQ5_WERROR}>:-Werror>)
  endif()
endfunction()
