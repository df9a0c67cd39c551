// Command-line hooks of the port text parsers, installed once by the
// command-line front end (upStrCliParaSet) and read by every parse.
#pragma once

#include "platform_core/up_text.h"

namespace pc::up {

up_str_may_end_fn text_may_end_hook();

}  // namespace pc::up
