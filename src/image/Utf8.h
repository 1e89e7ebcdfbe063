// Text that came from outside (a board's firmware line, a file name) made safe to store, print and
// put into JSON: valid UTF-8 is kept as it is, and every byte that is not part of a valid UTF-8
// sequence is written as \xNN (upper-case hex). The bytes themselves stay where they matter (the
// image); only their text is made safe, once, where it leaves for a person or a database.
#pragma once

#include <string>
#include <string_view>

namespace tuva {

std::string ValidUtf8(std::string_view bytes);

// The value of a hexadecimal digit; -1 for any other character.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace tuva
