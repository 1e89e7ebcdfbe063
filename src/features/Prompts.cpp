#include "features/Prompts.h"

#include <algorithm>
#include <stdexcept>

#include "features/FeatureLayout.h"

namespace tuva {
namespace {

constexpr std::size_t kMaxLeadCount = 15;

std::string Spaces(std::size_t count) {
  return std::string(count, ' ');
}

}  // namespace

std::size_t PromptSlotOffset(int index) {
  if (index < 0 || index >= kPromptCount) {
    throw std::out_of_range("prompt index " + std::to_string(index));
  }
  return layout::kPromptSlots + layout::kPromptSlotSize * static_cast<std::size_t>(index);
}

std::string PromptText(const ConfigImage& image, int index) {
  const std::size_t slot = PromptSlotOffset(index);
  const std::size_t lead = image.byte(slot) & 0x0F;
  const std::size_t length = std::min<std::size_t>(image.byte(slot + 1), layout::kPromptTextMax);
  std::string text = Spaces(lead);
  for (std::size_t i = 0; i < length; ++i) text += static_cast<char>(image.byte(slot + 2 + i));
  return text;
}

EntryResult StorePrompt(ConfigImage& image, int index, std::string_view text) {
  const std::size_t slot = PromptSlotOffset(index);
  const std::size_t firstText = std::min(text.find_first_not_of(' '), text.size());
  const std::size_t afterLead = text.size() - firstText;  // trailing spaces count here
  if (afterLead > layout::kPromptTextMax) {
    return EntryResult::Warning(kPromptTooLongMessage, kPromptCaption);
  }
  std::size_t lead = firstText;
  std::size_t extra = 0;
  if (lead >= kMaxLeadCount) {
    extra = lead - kMaxLeadCount;
    lead = kMaxLeadCount;
  }
  const std::string stored = Spaces(extra) + std::string(TrimSpaces(text));
  if (stored.size() > layout::kPromptTextMax) {
    // Only a line longer than the edit's 21 characters gets here; it would not fit the slot.
    return EntryResult::Warning("Can not exceed 15 left spaces and 18 characters!", kPromptCaption);
  }
  image.setByte(slot, static_cast<std::uint8_t>((image.byte(slot) & 0xF0) | lead));
  image.setByte(slot + 1, static_cast<std::uint8_t>(stored.size()));
  for (std::size_t i = 0; i < stored.size(); ++i) {
    image.setByte(slot + 2 + i, static_cast<std::uint8_t>(stored[i]));
  }
  return EntryResult::Stored();
}

std::string AlignPromptLeft(std::string_view text) {
  return std::string(TrimSpaces(text));
}

std::string AlignPromptCenter(std::string_view text) {
  const std::string_view trimmed = TrimSpaces(text);
  const std::size_t room = kPromptLineWidth - std::min(trimmed.size(), kPromptLineWidth);
  return Spaces(room / 2) + std::string(trimmed);
}

std::string AlignPromptRight(std::string_view text) {
  const std::string_view trimmed = TrimSpaces(text);
  const std::size_t room = kPromptLineWidth - std::min(trimmed.size(), kPromptLineWidth);
  return Spaces(room) + std::string(trimmed);
}

std::string AutoCapPrompt(std::string_view capcodeText) {
  std::string text = "<";
  text += capcodeText;
  text += '>';
  return AlignPromptCenter(text);
}

std::optional<int> SourceModeItem(const ConfigImage& image) {
  const int mode = image.byte(layout::kSourceMode);
  if (mode >= static_cast<int>(kSourceModeItems.size())) return std::nullopt;
  return mode;
}

void StoreSourceMode(ConfigImage& image, int item) {
  if (item < 0 || item >= static_cast<int>(kSourceModeItems.size())) {
    throw std::out_of_range("source mode " + std::to_string(item));
  }
  image.setByte(layout::kSourceMode, static_cast<std::uint8_t>(item));
}

}  // namespace tuva
