// The board's own serial output (its UART, not the PC link): baud rate, parity, stop and data
// bits, the message time-out delay, the control flags chkCtl0..chkCtl5, and the rule that decides
// which controls of the panel are enabled.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "features/FeatureEntry.h"
#include "image/ConfigImage.h"

namespace tuva {

// ComboBox5 "UART Baud Rate": items and the code the board's UART takes for each.
inline constexpr std::array<std::string_view, 5> kBaudItems = {"2400", "4800", "9600", "19200",
                                                               "38400"};
inline constexpr std::array<std::uint8_t, 5> kBaudCodes = {0xD0, 0x68, 0x34, 0x19, 0x0C};
// The item of a baud code; nullopt for a byte that is none of the codes (the box keeps its item).
std::optional<int> BaudItemForCode(std::uint8_t code);
std::optional<int> BaudItem(const ConfigImage& image);
void StoreBaudItem(ConfigImage& image, int item);

// ComboBox2 "Parity": items and letters 'N', 'O', 'E'.
inline constexpr std::array<std::string_view, 3> kParityItems = {"none", "odd", "even"};
inline constexpr std::array<char, 3> kParityLetters = {'N', 'O', 'E'};
std::optional<int> ParityItem(const ConfigImage& image);
void StoreParityItem(ConfigImage& image, int item);

// ComboBox3 "Stop Bits" (Tag 1, items "1", "2") and ComboBox4 "Data Bits" (Tag 2, items "7",
// "8"). The byte holds the number itself; a byte outside the items shows no selection.
inline constexpr std::array<std::string_view, 2> kStopBitsItems = {"1", "2"};
inline constexpr std::array<std::string_view, 2> kDataBitsItems = {"7", "8"};
std::optional<int> StopBitsItem(const ConfigImage& image);
std::optional<int> DataBitsItem(const ConfigImage& image);
void StoreStopBitsItem(ConfigImage& image, int item);
void StoreDataBitsItem(ConfigImage& image, int item);

// edtMDly "Msg Time Out Delay", 0..65000 seconds, little-endian at 0x833 with the in-use byte at
// 0x82C. An empty text stores nothing; a refused text stores nothing.
unsigned MessageDelay(const ConfigImage& image);
EntryResult StoreMessageDelay(ConfigImage& image, std::string_view text);

// chkCtl0..chkCtl5 by Tag: 0 "Fun. Cmd. Checksum", 1 "Fun. Cmd. Enable", 2 "Fun. Cmd. Out
// Filter Disable", 3 "Insert CR Before Detected LF", 4 "Insert LF After Detected CR", 5 "Serial
// Out Enable". Plain flags at 0x82E + Tag, Tag 5 at 0x839.
inline constexpr int kControlFlagCount = 6;
inline constexpr int kFunctionCommandEnableTag = 1;
inline constexpr int kSerialOutEnableTag = 5;
std::size_t ControlFlagOffset(int tag);
bool ControlFlag(const ConfigImage& image, int tag);
void SetControlFlag(ConfigImage& image, int tag, bool on);

// Which controls of the serial output panel are enabled.
struct SerialPanelEnabling {
  // The direct children of grpPara and grpCap1..grpCap4; their captions are black
  // when enabled and grey when not.
  bool parameters = false;
  // chkOpCmd0..chkOpCmd3 and edtFC0..edtFC3.
  bool functionCommands = false;
  std::uint32_t captionColour = 0x808080;
};
// Serial Out Enable switches the whole panel; the per-capcode function-command controls take part
// only while Fun. Cmd. Enable is off.
SerialPanelEnabling PanelEnabling(bool serialOutEnable, bool functionCommandEnable);
SerialPanelEnabling PanelEnabling(const ConfigImage& image);

inline constexpr std::uint32_t kCaptionEnabledColour = 0x000000;
inline constexpr std::uint32_t kCaptionDisabledColour = 0x808080;

// Display texts of the combo boxes for the field table: the item text, or the raw byte in
// hexadecimal with "?" when it matches no item.
std::string BaudText(const ConfigImage& image);
std::string ParityText(const ConfigImage& image);

}  // namespace tuva
