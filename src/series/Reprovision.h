// Re-provisioning: a series over boards that were programmed before, each keeping some of its own
// fields (its capcodes above all) while everything else comes from a new template.
//
// Each board is read first, with the full Read of the configuration (copy 0, or copy 1 when copy
// 0 fails its sum, repairing copy 0 from it). The kept fields are copied from what was read into
// the template through the same setters as the window's editors, then the board is written like
// any board of a series. A board that cannot be read is failed: it is never given the template's
// capcodes in place of its own.
//
// "capcodes" stands for what makes the capcodes a board answers to: every slot's capcode record
// (capcode.N.address), its ON box (capcode.N.enabled) and the Short/Long address mode
// (capcode.address_mode), which decides whether slot 1 holds a long capcode in two records (slot
// 2's record holding its second word). The group map follows from them.
//
// A board keeps capcodes of two kinds. A capcode every board is given alike (a group or all-call
// capcode) belongs to none of them: it is one the run's template holds in an enabled slot, or one
// that boards in these records hold while no attempt took it from the pool or a list (each got it
// as its template's value). Every other kept capcode is the board's own, and must be no other
// board's:
//  - These records hold it for another board: an attempt that holds it (a programmed board, and
//    an attempt holding it from the pool or a list: open, or failed after its erase, when that
//    board may hold it) with slot texts other than those the board was read with. An attempt with
//    the same texts is the board's own earlier record, unless a clone's: when the newest
//    programmed attempt holding the capcode is a re-provisioning, the board must hold exactly
//    what that attempt wrote (the SHA-256 of the data read, sealed with its sum and check bytes,
//    equals the attempt's). A copy of a board's image made before its re-provisioning is thus
//    refused, naming that attempt; so is, on the safe side, a board changed by hand since its
//    re-provisioning (its records cannot tell it from a copy).
//  - A board of this run claimed it: a board is re-provisioned once per run, and a second board
//    holding the same capcodes (a clone, or the same board moved to another jig) is refused.
// A board keeping no capcode of its own is refused too when nothing else (a counting slot, a
// list) gives it one: it would answer only to what every board answers to.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "features/FieldTable.h"
#include "image/ConfigImage.h"
#include "records/RecordStore.h"

namespace tuva::series {

// The name that stands for every slot's capcode fields.
inline constexpr std::string_view kKeepCapcodes = "capcodes";

// The message for the first name that is neither "capcodes" nor a settable field ("unknown field
// NAME (did you mean ...?)", as `set` says it); nullopt when every name is good.
std::optional<std::string> CheckKeptNames(const std::vector<std::string>& names);

// CheckKeptNames, then the counting slots (1..16): one whose capcode, ON box or address mode is
// kept would have two sources; the message for the first fault.
std::optional<std::string> CheckKept(const std::vector<std::string>& names,
                                     const std::vector<int>& countingSlots);

// The settable fields the names stand for, "capcodes" expanded, each once, in table order. Names
// CheckKeptNames refuses are left out.
std::vector<const Field*> KeptFields(const std::vector<std::string>& names);

// Whether the fields kept include slot `slot`'s (1..16) capcode, ON box or the address mode: what
// a counting capcode in that slot would contend with.
bool KeepsSlot(const std::vector<const Field*>& kept, int slot);

// Whether any slot's capcode record is kept.
bool KeepsACapcode(const std::vector<const Field*>& kept);

// Copies the kept fields' values from `board` into `image` (the template) through the editors'
// setters. The message, naming the field, when a value is refused or does not come out as the
// board holds it; the image must then not be written.
std::optional<std::string> TakeFromBoard(ConfigImage& image, const ConfigImage& board,
                                         const std::vector<const Field*>& kept);

// The capcodes of the enabled slots whose capcode record is kept, slot by slot (a long capcode
// once, in slot 1).
std::vector<std::uint32_t> KeptCapcodes(const ConfigImage& image,
                                        const std::vector<const Field*>& kept);

// Reads the board on `device` with the full Read into `board` (data bytes; its trailer is left as
// it was). The probe that opens the Read is tried again when it goes unanswered, as a series does
// for its Write. `password` answers the board's read password when it has one. False with the
// Read's own message ("Read Error!" when both copies are bad) in `message`.
bool ReadBoard(const std::string& device, const std::optional<std::string>& password,
               ConfigImage& board, std::string& message);

// The own kept capcodes of this run's boards, being written now or programmed: two boards on two
// jigs cannot both keep one capcode, even before either is recorded, and a board programmed in
// this run keeps its capcodes for the rest of the run.
class KeptThisRun {
 public:
  // A board's claim on its capcodes: given back when it ends, unless the board was programmed.
  class Claim {
   public:
    Claim() = default;
    Claim(Claim&& other) noexcept;
    Claim& operator=(Claim&& other) noexcept;
    ~Claim();
    void Keep() { owner_ = nullptr; }  // the board holds them now

   private:
    friend class KeptThisRun;
    KeptThisRun* owner_ = nullptr;
    std::uint64_t id_ = 0;
  };

  // Claims `capcodes` for a board on `port`. The message naming the first capcode another
  // board of the run claimed, and nothing claimed; or nullopt.
  std::optional<std::string> Take(const std::vector<std::uint32_t>& capcodes,
                                  const std::string& port, Claim& claim);

 private:
  struct Holder {
    std::uint64_t claim = 0;
    std::string port;
  };
  void Give(std::uint64_t claim);

  std::mutex mutex_;
  std::uint64_t lastClaim_ = 0;
  std::multimap<std::uint32_t, Holder> held_;
};

// A board being re-provisioned, as read.
struct BoardAsRead {
  std::int64_t attempt = 0;           // its attempt in this run: never another board
  std::vector<std::string> capcodes;  // every slot's text (CapcodeTexts)
  std::string sha256;                 // of its data, sealed with its sum and check bytes
};

// The kept capcodes checked against these records (see the rules above). The first refusal:
// "capcode 1500001 is held by another board: attempt #4 (programmed, /dev/ttyUSB0, station
// bench, 2026-12-07T14:03:09Z)"; otherwise nullopt with the board's own capcodes in `own` (those
// to claim for the run). `templateImage` is the run's template. Store errors pass through.
std::optional<std::string> HeldByAnotherBoard(records::RecordStore& store,
                                              const std::vector<std::uint32_t>& capcodes,
                                              const BoardAsRead& board,
                                              const ConfigImage& templateImage,
                                              std::vector<std::uint32_t>& own);

}  // namespace tuva::series
