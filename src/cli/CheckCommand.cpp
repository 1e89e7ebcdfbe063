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
  std::cout << series::CheckAnswer(check) << '\n';
  if (check.kind == BoardCheck::Kind::AsProgrammed) return kExitSuccess;
  if (check.kind == BoardCheck::Kind::Changed) {
    if (check.bySha256) {
      std::cout << series::UnnamedFieldsText(check) << '\n';
    } else {
      PrintDifferences(check.fields, check.recorded, check.board);
    }
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
  const bool read = RunOnBoard(options, [&](BoardLink& link, Document& document) {
    return ReadConfigurationInto(link, document, board).Done();
  });
  if (!read) return kExitFailed;
  return Print(series::CheckBoard(*store, board));
}

}  // namespace tuva::cli
