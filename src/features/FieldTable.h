// The field table: every field of the 4100-byte configuration image, described once.
//
// Each row names one field: where its bytes lie, which bits of them belong to it, how they are
// encoded, which control of the programmer edits it, and how to show its value as text. The rows
// never overlap, and together they cover every bit of the image: bytes that no editor touches
// (the firmware's own tables, the parameter-entry ids, the unused bits next to a flag bit) are
// listed as pass-through rows of kind FieldKind::Raw, so that a comparison over the table sees
// every difference between two images.
//
// `tuvactl dump` prints the rows with their values, `tuvactl diff` prints the rows that differ
// between two images, and the tests walk the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "image/ConfigImage.h"

namespace tuva {

// How the bytes of a field are encoded.
enum class FieldKind {
  Number,         // unsigned byte (or big-endian word), shown in decimal
  Count,          // count byte of a counted string, shown in decimal
  PlainFlag,      // 0x01 on, 0x00 off; on when not 0
  InvertedFlag,   // 0x00 on, 0xFF off; on only when exactly 0x00
  Bit,            // one bit of a byte (see Field::mask); on when set
  BaudCode,       // UART baud code 0xD0/0x68/0x34/0x19/0x0C
  Parity,         // 'N', 'O' or 'E'
  MessageDelay,   // 16-bit little-endian seconds
  PairString,     // bytes of a header/trailer/timeout string, shown as "41;42" up to its count
  FunctionCode,   // four function-command code bytes, shown as "77;10;00;00"
  Period,         // output period in pre-scaler units, shown in seconds
  PreScaler,      // pre-scaler factor in tenths of a second
  CountedText,    // characters of a function-command password, up to its count
  ZeroText,       // zero-terminated text (read password, version text)
  PromptSlot,     // 20-byte source prompt slot, shown as the prompt edit shows it
  SourceMode,     // 0 Disable, 1 Backward, 2 Auto Cap.
  Band,           // band index 0-4
  PllWord,        // PLLR or PLLN, shown in hexadecimal
  Polarity,       // 0 Invert, otherwise Normal
  AddressMode,    // 0 Short, 1 Long
  CapcodeRecord,  // 24-bit capcode record, shown as the decoded capcode
  GroupMap,       // 16-bit big-endian capcode group map, shown in hexadecimal
  ImageSum,       // big-endian sum of bytes 0-4093
  CheckBytes,     // the four check bytes after the sum
  Raw,            // pass-through bytes no editor touches, shown in hexadecimal
};

// How a technician's text is read into a field and shown from it: the editor's codec
// (FieldTexts.cpp). A codec of a family (capcodes, outputs, prompts, passwords) takes the member
// from Field::slot.
enum class FieldCodec {
  None,                     // declared by no row: a fault of the table
  Bytes,                    // no editor: the bytes in hexadecimal
  PllReference,             // PLLR and the PLL constant: bytes, set before the frequency
  Count,                    // count byte, 0-255
  PlainFlag,                // "on"/"off" over a plain flag
  InvertedFlag,             // "on"/"off" over an inverted flag
  TimeUpdate,               // "on"/"off" over the three time-update places at once
  InternalFunctionCommand,  // capcode `slot`'s Int. Fun. Cmd. box
  PowerUpOutput,            // output `slot` on at power-up
  CapcodeEnable,            // capcode `slot`'s ON box
  Baud,                     // the serial list boxes, by item text
  Parity,
  StopBits,
  DataBits,
  MessageDelay,
  OutOfRangeTimeout,
  SequentialLock,
  HeaderString,  // capcode `slot`'s pair strings ("0D;0A")
  TrailerString,
  TimeoutString,
  FunctionCode,      // capcode `slot`'s function-command code
  Period,            // output `slot`'s period
  PreScaler,         // by item text
  FunctionPassword,  // password `slot` + 1
  ReadPassword,
  Prompt,  // prompt `slot`
  SourceMode,
  Band,
  Frequency,  // "462.0125", in MHz
  Polarity,
  AddressMode,
  CapcodeAddress,  // capcode `slot`
};

// Machine-friendly name of a kind, for JSON output ("plain_flag", "baud_code", ...).
std::string_view KindName(FieldKind kind);

struct Field {
  // Stable, unique, machine-friendly name: "serial.baud", "capcode.3.header",
  // "prompt.16", "raw.0x0E0". Capcodes, prompts and outputs count from 1 as the window shows them.
  std::string name;
  // First byte of the field in the image, and the number of bytes it spans (at least 1).
  // offset + width never exceeds kImageSize.
  std::size_t offset = 0;
  std::size_t width = 1;
  // The bits of each covered byte that belong to the field: 0xFF for whole bytes; a single bit for
  // kind Bit; the remaining bits of a shared byte for its Raw row. Only one-byte fields use a mask
  // other than 0xFF.
  std::uint8_t mask = 0xFF;
  FieldKind kind = FieldKind::Raw;
  // Object name of the control that edits the field ("ComboBox5", "edtHeader2"); empty when no
  // control shows it. Per-capcode string editors are shared by four capcodes; the name given is
  // the editor that shows this capcode when its range is selected.
  std::string control;
  // What the field means to a technician, in a few words ("UART baud rate").
  std::string label;
  // How the field is set from a technician's text; the member of its family, counted from 0; the
  // unit of its value ("seconds"), which its label ends with.
  FieldCodec codec = FieldCodec::None;
  int slot = 0;
  std::string unit;
  // The decoded value as text, as the programmer shows it ("9600", "on", "41;42", "1.2").
  std::function<std::string(const ConfigImage&)> display;

  // True when the field's bits differ between the two images.
  bool Differs(const ConfigImage& a, const ConfigImage& b) const;
  // The covered bytes in upper-case hexadecimal separated by spaces, masked ("0C", "41 42 00").
  std::string Hex(const ConfigImage& image) const;
  std::string Text(const ConfigImage& image) const { return display(image); }
};

// Every field of the image, ordered by offset (and by bit within a shared byte).
const std::vector<Field>& ConfigFields();

// The row of that name, or nullptr.
const Field* FindField(std::string_view name);

// The rows whose bits differ between the two images, in table order. Two images that are equal
// byte for byte over 0..4099 give an empty list; any other pair gives at least one row.
std::vector<const Field*> DiffImages(const ConfigImage& a, const ConfigImage& b);

}  // namespace tuva
