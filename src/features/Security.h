// Passwords and lock features: the board's read password, the two function-command passwords,
// "FC as a Password", the sequential lock, the out-of-range time-out and test mode.
#pragma once

#include <string>
#include <string_view>

#include "features/FeatureEntry.h"
#include "image/ConfigImage.h"

namespace tuva {

// edtReadPass: zero-terminated text of 0..10 digits and points at 0x83C (11 bytes). An empty
// password is a zero byte at 0x83C. Without a zero byte in the first 10 (an erased board) the
// password shows 10 characters.
std::string ReadPassword(const ConfigImage& image);
// Stores the text as it stands, empty text included (that removes the password). Refused: more
// than 10 characters, or a character other than a digit or a point.
EntryResult StoreReadPassword(ConfigImage& image, std::string_view text);
// Key filter of edtReadPass (and of the frequency and period edits): digits, '.' and Backspace
// pass; any other key is discarded with the warning kNotNumericKeyMessage.
bool ReadPasswordKeyAllowed(char key);

// edtOPW1 / edtOPW2 (which = 1 or 2): count byte then 10 characters; a zero byte follows a
// password shorter than 10, the bytes after it keep their values. A count above 10 shows the
// 10 characters of the slot.
std::size_t FunctionPasswordOffset(int which);
std::string FunctionPassword(const ConfigImage& image, int which);
// Any text of up to 10 characters; longer text is refused.
EntryResult StoreFunctionPassword(ConfigImage& image, int which, std::string_view text);

// edtSLC (Tag 0, sequential lock, seconds, 0x1F3) and edtORC (Tag 1, out-of-range time-out,
// minutes, 0x006): 0..255. An empty text stores nothing.
inline constexpr int kSequentialLockTag = 0;
inline constexpr int kOutOfRangeTimeoutTag = 1;
std::size_t LockByteOffset(int tag);
unsigned LockByte(const ConfigImage& image, int tag);
EntryResult StoreLockByte(ConfigImage& image, int tag, std::string_view text);

}  // namespace tuva
