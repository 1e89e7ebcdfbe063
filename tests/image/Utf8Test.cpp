#include "image/Utf8.h"

#include <gtest/gtest.h>

namespace tuva {
namespace {

TEST(Utf8, ValidTextStaysAndEveryOtherByteIsEscaped) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"FLEX  V02.41", "FLEX  V02.41"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x9F", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x9F"},
      {"V\x80\xFF", "V\\x80\\xFF"},
      {"\xC0\x80", "\\xC0\\x80"},                    // an overlong NUL
      {"\xE0\x80\x80", "\\xE0\\x80\\x80"},           // an overlong NUL in three bytes
      {"\xF5\x80\x80\x80", "\\xF5\\x80\\x80\\x80"},  // a lead byte no character has
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // a surrogate
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
      {"\xE2\x82", "\\xE2\\x82"},                    // cut short at the end
      {"\xE2\x82"
       "A",
       "\\xE2\\x82A"},  // cut short before another character
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& test : cases) EXPECT_EQ(ValidUtf8(test.bytes), test.text) << test.text;
}

}  // namespace
}  // namespace tuva
