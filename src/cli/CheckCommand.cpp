// tuvactl check: the board on the port held against the records of the boards programmed. One
// Read of the board; the records name the attempt whose capcodes it holds and rebuild what that
// attempt wrote; the fields that differ are printed as diff prints them, what was written first.
#include <iostream>

#include "cli/Commands.h"
#include "device/ReadInto.h"
#include "records/RecordStore.h"
#include "series/BoardCheck.h"

namespace tuva::cli {
namespace {

using series::BoardCheck;

int Print(const BoardCheck& check) {
  const std::string attempt = series::CheckedAttemptText(check.attempt);
  switch (check.kind) {
    case BoardCheck::Kind::AsProgrammed:
      std::cout << "as programmed: " << attempt << '\n';
      return kExitSuccess;
    case BoardCheck::Kind::Changed:
      std::cout << "changed since programmed: " << attempt << '\n';
      if (check.bySha256) {
        std::cout << "the board's SHA-256 is " << check.boardSha256 << ", the attempt's "
                  << check.attempt.sha256 << "; attempt #" << check.attempt.id
                  << " was recorded before images were kept, so the fields that differ cannot be "
                     "named\n";
      } else {
        PrintDifferences(check.fields, check.recorded, check.board);
      }
      return kExitFailed;
    case BoardCheck::Kind::NoRecord:
      if (check.capcode) {
        std::cout << "no record holds capcode " << *check.capcode << " of this board\n";
      } else {
        std::cout << "this board holds no capcode\n";
      }
      return kExitFailed;
    case BoardCheck::Kind::TwoAttempts:
      std::cout << "capcodes of two attempts: #" << check.attempt.id << " and #" << check.other
                << '\n';
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace

int CheckCommand(const Options& options) {
  std::unique_ptr<records::RecordStore> store;
  try {
    store = records::OpenRecordStore(options.records, records::OpenMode::ReadOnly);
  } catch (const records::RecordsError& error) {
    throw UsageError(error.what());
  }
  // The board's data over the start-up image: the sum and check bytes a Read does not take are
  // made again where they matter (the SHA-256) and taken from the records otherwise.
  ConfigImage board = ConfigImage::StartupImage();
  const bool read = RunOnBoard(
      options, [&](Session& session) { return ReadConfigurationInto(session, board).Done(); });
  if (!read) return kExitFailed;
  try {
    return Print(series::CheckBoard(*store, board));
  } catch (const records::RecordsError& error) {
    std::cerr << "tuvactl: " << error.what() << std::endl;
    return kExitFailed;
  }
}

}  // namespace tuva::cli
