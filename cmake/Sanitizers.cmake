# PC_SANITIZE="address;undefined" or "thread" instruments every target.
if(PC_SANITIZE)
  string(REPLACE ";" "," _pc_san "${PC_SANITIZE}")
  add_compile_options(-fsanitize=${_pc_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_pc_san})
endif()
