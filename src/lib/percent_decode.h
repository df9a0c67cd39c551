// Percent-decoding of text from the web pages: "%" and two hexadecimal
// digits become that byte; a "%" not followed by two hexadecimal digits
// stays as written. Never reads past the view it is given.
#pragma once

#include <string>
#include <string_view>

namespace pc::lib {

std::string percent_decode(std::string_view text);

}  // namespace pc::lib
