// SHA-256 of a byte buffer, as the records keep it for the image written to a board.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tuva::records {

std::array<std::uint8_t, 32> Sha256(const std::uint8_t* data, std::size_t size);

// The digest in lower-case hex, 64 characters.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

}  // namespace tuva::records
