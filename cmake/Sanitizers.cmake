# PC_SANITIZE="address;undefined" or "thread" instruments every target.
# Undefined behaviour is fatal (no recovery), so a test that triggers it fails.
if(PC_SANITIZE)
  if("thread" IN_LIST PC_SANITIZE AND "address" IN_LIST PC_SANITIZE)
    message(FATAL_ERROR "PC_SANITIZE: 'thread' cannot be combined with 'address'")
  endif()
  string(REPLACE ";" "," _pc_san "${PC_SANITIZE}")
  add_compile_options(-fsanitize=${_pc_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_pc_san})
  # GCC's flow-based warnings see the instrumented code and report false
  # positives there (its manual advises against -Werror with sanitizers).
  # They stay errors in the host and target builds and are still printed here.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-error=format-truncation -Wno-error=format-overflow
                        -Wno-error=maybe-uninitialized -Wno-error=stringop-overflow
                        -Wno-error=stringop-overread -Wno-error=array-bounds)
  endif()
endif()
