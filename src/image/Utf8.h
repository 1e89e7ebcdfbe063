// Text that came from outside (a board's firmware line, a file name) made safe to store, print and
// put into JSON: valid UTF-8 is kept as it is, and every byte that is not part of a valid UTF-8
// sequence is written as \xNN (upper-case hex). The bytes themselves stay where they matter (the
// image); only their text is made safe, once, where it leaves for a person or a database.
#pragma once

#include <string>
#include <string_view>

namespace tuva {

std::string ValidUtf8(std::string_view bytes);

}  // namespace tuva
