# Sanitizers apply to everything built in this tree (libraries, tests, tools).
if(TQ5_SANITIZE)
  string(REPLACE ";" "," _tq5_san "${TQ5_SANITIZE}")
  add_compile_options(-fsanitize=${_tq5_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_tq5_san})
endif()
