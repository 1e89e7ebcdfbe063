#include "series/Reprovision.h"

#include <algorithm>
#include <set>
#include <utility>

#include "device/ReadInto.h"
#include "features/FieldValues.h"
#include "image/CapcodeCodec.h"
#include "records/RecordText.h"
#include "series/JigBoard.h"

namespace tuva::series {
namespace {

std::string SlotField(int slot, const char* part) {
  return "capcode." + std::to_string(slot) + "." + part;
}

bool Kept(const std::vector<const Field*>& kept, const std::string& name) {
  return std::any_of(kept.begin(), kept.end(),
                     [&name](const Field* field) { return field->name == name; });
}

}  // namespace

std::optional<std::string> CheckKeptNames(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (name == kKeepCapcodes) continue;
    if (name.empty()) return std::string("a kept field's name is empty");
    const Field* field = FindField(name);
    if (field == nullptr) return UnknownFieldMessage(name);
    if (!IsSettable(*field)) return name + " cannot be kept: each Write seals the image anew";
  }
  return std::nullopt;
}

std::optional<std::string> CheckKept(const std::vector<std::string>& names,
                                     const std::vector<int>& countingSlots) {
  if (auto fault = CheckKeptNames(names)) return fault;
  const std::vector<const Field*> kept = KeptFields(names);
  for (const int slot : countingSlots) {
    if (KeepsSlot(kept, slot)) {
      return "capcode slot " + std::to_string(slot) +
             " counts up, and its capcode is kept from the board too: count another slot or "
             "keep fewer fields";
    }
  }
  return std::nullopt;
}

std::vector<const Field*> KeptFields(const std::vector<std::string>& names) {
  std::set<std::string> wanted;
  for (const std::string& name : names) {
    if (name != kKeepCapcodes) {
      wanted.insert(name);
      continue;
    }
    wanted.insert("capcode.address_mode");
    for (int slot = 1; slot <= kCapcodeSlots; ++slot) {
      wanted.insert(SlotField(slot, "address"));
      wanted.insert(SlotField(slot, "enabled"));
    }
  }
  std::vector<const Field*> fields;
  for (const Field* field : SettableFields()) {
    if (wanted.count(field->name) != 0) fields.push_back(field);
  }
  return fields;
}

bool KeepsSlot(const std::vector<const Field*>& kept, int slot) {
  return Kept(kept, SlotField(slot, "address")) || Kept(kept, SlotField(slot, "enabled")) ||
         Kept(kept, "capcode.address_mode");
}

bool KeepsACapcode(const std::vector<const Field*>& kept) {
  return std::any_of(kept.begin(), kept.end(),
                     [](const Field* f) { return f->codec == FieldCodec::CapcodeAddress; });
}

std::optional<std::string> TakeFromBoard(ConfigImage& image, const ConfigImage& board,
                                         const std::vector<const Field*>& kept) {
  std::vector<std::pair<std::string, std::string>> texts;
  for (const Field* field : kept) texts.emplace_back(field->name, GetFieldText(board, *field));
  ConfigImage taken = image;
  if (const auto refusal = ApplyFieldTexts(taken, texts)) {
    return "the board's " + refusal->field + " cannot be kept: " + InTextTerms(board, *refusal);
  }
  // A setter of the template's kind may rewrite a field set before it (a band its frequency):
  // what is written must be what the board holds, or the board loses it.
  for (const Field* field : kept) {
    if (field->Differs(taken, board)) {
      return "the board's " + field->name + " (" + GetFieldText(board, *field) +
             ") does not go with the template (it would become " + GetFieldText(taken, *field) +
             ")";
    }
  }
  image = taken;
  return std::nullopt;
}

std::vector<std::uint32_t> KeptCapcodes(const ConfigImage& image,
                                        const std::vector<const Field*>& kept) {
  const CapcodeRefill refill = DecodeCapcodes(image);
  std::vector<std::uint32_t> capcodes;
  for (int slot = 1; slot <= kCapcodeSlots; ++slot) {
    const CapcodeSlotView& view = refill.slots[static_cast<std::size_t>(slot - 1)];
    if (!view.refilled || !view.textRefilled || !view.value) continue;
    if (!Kept(kept, SlotField(slot, "address")) || !CapcodeEnabled(image, slot - 1)) continue;
    capcodes.push_back(*view.value);
  }
  return capcodes;
}

bool ReadBoard(const std::string& device, const std::optional<std::string>& password,
               ConfigImage& board, std::string& message) {
  QuietFrontend frontend;
  frontend.password = password;
  Document document;
  BoardLink link(frontend, document);
  link.ports = {device};
  const Outcome outcome = WithOpeningTries(kProbeTries, [&] {
    frontend.message.clear();
    return ReadConfigurationInto(link, document, board);
  });
  if (!outcome.Done()) message = frontend.message.empty() ? "Transmit Error!" : frontend.message;
  return outcome.Done();
}

KeptThisRun::Claim::Claim(Claim&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), id_(other.id_) {}

KeptThisRun::Claim& KeptThisRun::Claim::operator=(Claim&& other) noexcept {
  if (this != &other) {
    if (owner_) owner_->Give(id_);
    owner_ = std::exchange(other.owner_, nullptr);
    id_ = other.id_;
  }
  return *this;
}

KeptThisRun::Claim::~Claim() {
  if (owner_) owner_->Give(id_);
}

std::optional<std::string> KeptThisRun::Take(const std::vector<std::uint32_t>& capcodes,
                                             const std::string& port, Claim& claim) {
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    for (const std::uint32_t capcode : capcodes) {
      const auto at = held_.find(capcode);
      if (at != held_.end()) {
        return "capcode " + std::to_string(capcode) + " is held by another board of this run, on " +
               at->second.port;
      }
    }
    id = ++lastClaim_;
    for (const std::uint32_t capcode : capcodes) held_.emplace(capcode, Holder{id, port});
  }
  // Handed over without the lock: giving back an earlier claim takes it.
  Claim taken;
  taken.owner_ = this;
  taken.id_ = id;
  claim = std::move(taken);
  return std::nullopt;
}

void KeptThisRun::Give(std::uint64_t claim) {
  std::lock_guard lock(mutex_);
  std::erase_if(held_, [claim](const auto& entry) { return entry.second.claim == claim; });
}

std::optional<std::string> HeldByAnotherBoard(records::RecordStore& store,
                                              const std::vector<std::uint32_t>& capcodes,
                                              const BoardAsRead& board,
                                              const ConfigImage& templateImage,
                                              std::vector<std::uint32_t>& own) {
  own.clear();
  const std::vector<std::uint32_t> alike = KeptCapcodes(templateImage, KeptFields({"capcodes"}));
  for (const std::uint32_t capcode : capcodes) {
    if (std::find(alike.begin(), alike.end(), capcode) != alike.end()) continue;
    records::ListFilter filter;
    filter.capcode = capcode;
    std::vector<records::Attempt> holders;  // oldest first
    store.Each(filter, [&](const records::Attempt& attempt) {
      if (attempt.id != board.attempt) holders.push_back(attempt);
    });
    const bool taken = std::any_of(holders.begin(), holders.end(), [&](const auto& holder) {
      return std::any_of(holder.taken.begin(), holder.taken.end(),
                         [&](const auto& t) { return t.held && t.capcode == capcode; });
    });
    const auto other = std::find_if(holders.begin(), holders.end(), [&](const auto& holder) {
      return holder.capcodes != board.capcodes;
    });
    const std::string held = "capcode " + std::to_string(capcode) + " is held by another board: ";
    if (other != holders.end()) {
      if (!taken) continue;  // other boards hold it as their template's value: given alike
      return held + records::AttemptText(*other);
    }
    // Every holder has the board's texts: its own records, unless the newest board programmed
    // with them was re-provisioned into other contents than this board holds (a copy).
    const auto latest = std::find_if(holders.rbegin(), holders.rend(), [](const auto& holder) {
      return holder.result == records::Result::Programmed;
    });
    if (latest != holders.rend() && !latest->kept.empty() && latest->sha256 != board.sha256) {
      return held + records::AttemptText(*latest) + ", which wrote other contents than this " +
             "board holds";
    }
    own.push_back(capcode);
  }
  return std::nullopt;
}

}  // namespace tuva::series
