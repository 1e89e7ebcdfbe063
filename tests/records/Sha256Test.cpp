#include "records/Sha256.h"

#include <gtest/gtest.h>

namespace tuva::testing {
namespace {

// The FIPS 180 examples: an empty message, one block, and 56 bytes whose padding needs a second
// block.
TEST(Sha256Test, MatchesTheStandardExamples) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(records::Sha256Hex(reinterpret_cast<const std::uint8_t*>(c.message.data()),
                                 c.message.size()),
              c.digest)
        << '"' << c.message << '"';
  }
}

}  // namespace
}  // namespace tuva::testing
