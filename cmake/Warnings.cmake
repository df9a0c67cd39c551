# Every target of the project builds with these warnings, and a warning is an error.
add_library(pc_warnings INTERFACE)
target_compile_options(pc_warnings INTERFACE
  -Wall -Wextra -Werror -Wshadow -Wformat=2 -Wno-format-nonliteral
  -Wno-missing-field-initializers)
