# tq5_program_needs(<program> <result-var> <what> <found> <debian-package> ...): takes what a
# program needs as triples (a library for people; a variable that is true when it was found,
# or TARGET:<target> for a library of ours built only where its own needs are found; the
# Debian package that brings it). Sets <result-var> to TRUE when everything is there; otherwise warns, naming
# the program, what is missing and the packages to install, and sets it to FALSE. A program
# the build leaves out must not go unnoticed in a line of configure's status output.
function(tq5_program_needs program result)
  set(missing "")
  set(packages "")
  set(items ${ARGN})
  list(LENGTH items count)
  set(i 0)
  while(i LESS count)
    math(EXPR found_at "${i} + 1")
    math(EXPR package_at "${i} + 2")
    list(GET items ${i} what)
    list(GET items ${found_at} found)
    list(GET items ${package_at} package)
    if(found MATCHES "^TARGET:(.*)")
      set(present FALSE)
      if(TARGET ${CMAKE_MATCH_1})
        set(present TRUE)
      endif()
    else()
      set(present ${${found}})
    endif()
    if(NOT present)
      list(APPEND missing "${what}")
      list(APPEND packages "${package}")
    endif()
    math(EXPR i "${i} + 3")
  endwhile()
  if(missing)
    list(JOIN missing ", " missing)
    list(REMOVE_DUPLICATES packages)
    list(JOIN packages " " packages)
    message(WARNING "${program} is NOT built: ${missing} not found. "
      "Install the Debian packages ${packages} (or run tools/install-deps.sh) and configure "
      "again.")
    set(${result} FALSE PARENT_SCOPE)
  else()
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()
