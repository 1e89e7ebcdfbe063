// A board held against the records: is it the board they say was programmed, and has anyone
// changed it since?
//
// The board's capcodes say which board it is. A capcode the pool or a list handed out went to one
// board only: the attempt that took it, or the newest attempt that re-provisioned that board
// since, keeping it. A board holding such capcodes of two boards (a copy of one board's image
// changed by hand, two boards' capcodes put together) is named as such. A board holding no capcode
// that was handed out (a board first programmed elsewhere and re-provisioned here, keeping its
// own) is the board of the newest attempt holding its capcodes, the one whose slots it matches
// best when they point at several.
//
// The board is then compared with what that attempt wrote, rebuilt from the records, field by
// field; an attempt recorded before images were kept is compared by the SHA-256 of the image
// alone, which says whether the board was changed but not what.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "features/FieldTable.h"
#include "image/ConfigImage.h"
#include "records/RecordStore.h"

namespace tuva::series {

struct BoardCheck {
  enum class Kind {
    AsProgrammed,  // the board holds what `attempt` wrote
    Changed,       // it differs from what `attempt` wrote
    NoRecord,      // no programmed attempt holds `capcode` (none: the board holds no capcode)
    TwoAttempts,   // its capcodes are those of two boards, `attempt` and `other`
  };
  Kind kind = Kind::NoRecord;
  records::Attempt attempt;
  std::int64_t other = 0;
  std::optional<std::uint32_t> capcode;

  // The attempt was recorded before images were kept: compared by the SHA-256 of the board's
  // image (its data sealed with its sum and check bytes) alone, and no field can be named.
  bool bySha256 = false;
  std::string boardSha256;

  // What the attempt wrote, and the board's data over it (the sum and check bytes are not read
  // from a board); `fields` are the rows of the field table in which they differ.
  ConfigImage recorded;
  ConfigImage board;
  std::vector<const Field*> fields;
};

// Checks the board whose data bytes (0..4093) `board` holds against `store`. Throws
// records::RecordsError when the records cannot be read or the attempt's image cannot be rebuilt.
BoardCheck CheckBoard(records::RecordStore& store, const ConfigImage& board);

// The answer in one line, as tuvactl prints it and the window shows it: "as programmed: " or
// "changed since programmed: " and the attempt (CheckedAttemptText), "no record holds capcode
// 1600000 of this board", "capcodes of two attempts: #3 and #7".
std::string CheckAnswer(const BoardCheck& check);

// Why a changed board compared by SHA-256 alone has no field named, with both SHA-256.
std::string UnnamedFieldsText(const BoardCheck& check);

// "attempt #12, 2026-12-07T11:02:03Z, station bench2, template 3fa2c9e1b7d0 (firmware FLEX
// V02.41)": the template by the first twelve digits of its SHA-256, "-" for what is not known.
std::string CheckedAttemptText(const records::Attempt& attempt);

}  // namespace tuva::series
