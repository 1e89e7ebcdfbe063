#include "series/BoardCheck.h"

#include <algorithm>
#include <functional>
#include <numeric>

#include "records/ImageRuns.h"
#include "records/Sha256.h"
#include "records/StoreCommon.h"
#include "series/SeriesImage.h"
#include "series/SeriesRun.h"

namespace tuva::series {
namespace {

using records::Attempt;
using records::CapcodeHolders;

// Template SHA-256 digits a person needs to tell one template from another.
constexpr std::size_t kShownDigits = 12;

void AddOnce(std::vector<std::int64_t>& ids, std::int64_t id) {
  if (id != 0 && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
}

std::optional<Attempt> AttemptOf(records::RecordStore& store, std::int64_t id) {
  records::ListFilter one;
  one.id = id;
  std::optional<Attempt> found;
  store.Each(one, [&](const Attempt& attempt) { found = attempt; });
  return found;
}

// The slots in which the attempt's recorded capcode texts are the board's.
int SlotsAlike(const Attempt& attempt, const std::vector<std::string>& onBoard) {
  const std::size_t slots = std::min(onBoard.size(), attempt.capcodes.size());
  return std::inner_product(onBoard.begin(), onBoard.begin() + static_cast<std::ptrdiff_t>(slots),
                            attempt.capcodes.begin(), 0, std::plus<>(), std::equal_to<>());
}

// The board's attempt among those its capcodes point at (ids, distinct): the one whose slots it
// matches best, or the oldest two that match it equally well.
BoardCheck Choose(records::RecordStore& store, std::vector<std::int64_t> ids,
                  const std::vector<std::string>& onBoard) {
  BoardCheck check;
  std::sort(ids.begin(), ids.end());
  std::vector<Attempt> candidates;
  for (const std::int64_t id : ids) {
    if (auto attempt = AttemptOf(store, id)) candidates.push_back(std::move(*attempt));
  }
  if (candidates.empty()) return check;
  int best = -1;
  std::vector<const Attempt*> tied;
  for (const Attempt& candidate : candidates) {
    const int alike = SlotsAlike(candidate, onBoard);
    if (alike > best) tied.clear();
    best = std::max(best, alike);
    if (alike == best) tied.push_back(&candidate);
  }
  check.attempt = *tied.front();
  check.kind = tied.size() > 1 ? BoardCheck::Kind::TwoAttempts : BoardCheck::Kind::AsProgrammed;
  if (tied.size() > 1) check.other = tied[1]->id;
  return check;
}

// Which attempt the board's capcodes name (kind AsProgrammed until compared), or why none.
BoardCheck FindAttempt(records::RecordStore& store, const std::vector<std::string>& onBoard) {
  BoardCheck check;
  std::vector<std::uint32_t> capcodes;
  for (const std::uint32_t capcode : records::NumericCapcodes(onBoard)) {
    if (std::find(capcodes.begin(), capcodes.end(), capcode) == capcodes.end()) {
      capcodes.push_back(capcode);
    }
  }
  if (capcodes.empty()) return check;
  const std::vector<CapcodeHolders> holders = store.HoldersOf(capcodes);
  // The capcodes handed out to one board each: theirs is the board, however re-provisioned.
  std::vector<std::int64_t> boards;
  for (const CapcodeHolders& holder : holders) {
    if (holder.taker != 0) AddOnce(boards, holder.newest != 0 ? holder.newest : holder.taker);
  }
  if (boards.size() > 1) {
    std::sort(boards.begin(), boards.end());
    check.kind = BoardCheck::Kind::TwoAttempts;
    check.attempt.id = boards[0];
    check.other = boards[1];
    return check;
  }
  if (boards.empty()) {
    // None was handed out: every capcode must be one the records' boards hold.
    for (const CapcodeHolders& holder : holders) {
      if (holder.newest == 0) {
        check.capcode = holder.capcode;
        return check;
      }
      AddOnce(boards, holder.newest);
    }
  }
  return Choose(store, boards, onBoard);
}

}  // namespace

BoardCheck CheckBoard(records::RecordStore& store, const ConfigImage& board) {
  BoardCheck check = FindAttempt(store, CapcodeTexts(board));
  if (check.kind != BoardCheck::Kind::AsProgrammed) return check;
  if (!records::ImageKept(check.attempt)) {
    ConfigImage sealed = board;
    sealed.Seal();
    check.bySha256 = true;
    check.boardSha256 = records::Sha256Hex(sealed.bytes().data(), kImageSize);
    if (check.boardSha256 != check.attempt.sha256) check.kind = BoardCheck::Kind::Changed;
    return check;
  }
  const std::vector<std::uint8_t> recorded = records::RebuildImage(store, check.attempt);
  check.recorded.Assign(std::span<const std::uint8_t, kImageSize>(recorded.data(), kImageSize));
  check.board = check.recorded;
  check.board.AssignData(board.bytes().first<kImageDataSize>());
  check.fields = DiffImages(check.recorded, check.board);
  if (!check.fields.empty()) check.kind = BoardCheck::Kind::Changed;
  return check;
}

std::string CheckAnswer(const BoardCheck& check) {
  switch (check.kind) {
    case BoardCheck::Kind::AsProgrammed:
      return "as programmed: " + CheckedAttemptText(check.attempt);
    case BoardCheck::Kind::Changed:
      return "changed since programmed: " + CheckedAttemptText(check.attempt);
    case BoardCheck::Kind::NoRecord:
      return check.capcode
                 ? "no record holds capcode " + std::to_string(*check.capcode) + " of this board"
                 : "this board holds no capcode";
    case BoardCheck::Kind::TwoAttempts:
      return "capcodes of two attempts: #" + std::to_string(check.attempt.id) + " and #" +
             std::to_string(check.other);
  }
  return {};
}

std::string UnnamedFieldsText(const BoardCheck& check) {
  return "the board's SHA-256 is " + check.boardSha256 + ", the attempt's " + check.attempt.sha256 +
         "; attempt #" + std::to_string(check.attempt.id) +
         " was recorded before images were kept, so the fields that differ cannot be named";
}

std::string CheckedAttemptText(const Attempt& attempt) {
  const auto orDash = [](const std::string& text) { return text.empty() ? "-" : text; };
  return "attempt #" + std::to_string(attempt.id) + ", " + orDash(attempt.time) + ", station " +
         orDash(attempt.station) + ", template " +
         orDash(attempt.templateSha256.substr(0, kShownDigits)) + " (firmware " +
         orDash(ShortFirmware(attempt.firmware)) + ")";
}

}  // namespace tuva::series
