// The records, written once against the store interface and run against both stores: an SQLite
// file in a temporary folder and a PostgreSQL server the test starts itself.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "StoreBackends.h"
#include "image/CapcodeCodec.h"
#include "image/ConfigImage.h"
#include "records/ImageRuns.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"
#include "series/BoardCheck.h"
#include "series/SeriesImage.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::Attempt;
using records::CountingSlot;
using records::ListFilter;
using records::RecordsError;
using records::RecordStore;
using records::Result;

constexpr std::uint32_t kLastShort = 2097151;

template <typename Backend>
class RecordStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { backend_.SetUp(); }
  void TearDown() override { backend_.TearDown(); }

  std::unique_ptr<RecordStore> Open() {
    return records::OpenRecordStore(backend_.where, records::OpenMode::Create);
  }

  static Attempt Start(const std::string& port) {
    Attempt start;
    start.port = port;
    return start;
  }

  // Reserves one attempt on `store` and returns the capcode it took for each slot.
  static std::vector<std::uint32_t> Take(RecordStore& store, const std::vector<CountingSlot>& slots,
                                         std::int64_t* id = nullptr) {
    const Attempt attempt = store.Reserve(Start("/dev/ttyUSB0"), slots);
    if (id) *id = attempt.id;
    std::vector<std::uint32_t> capcodes;
    for (const Attempt::Taken& taken : attempt.taken) capcodes.push_back(taken.capcode);
    return capcodes;
  }

  static void End(RecordStore& store, std::int64_t id, Result result) {
    Attempt attempt;
    attempt.id = id;
    attempt.result = result;
    store.Finish(attempt);
  }

  Backend backend_;
};

TYPED_TEST_SUITE(RecordStoreTest, Backends, BackendNames);

const CountingSlot kSlot1{1, 1500000, 1, kLastShort};

TYPED_TEST(RecordStoreTest, ReservesTheLowestFreeCapcodesAndKeepsEveryField) {
  auto store = this->Open();
  Attempt start = this->Start("/dev/ttyUSB1");
  start.station = "bench-2";
  // Two counting slots whose progressions meet: a capcode is handed out once across all slots.
  const std::vector<CountingSlot> slots = {{1, 100, 10, kLastShort}, {4, 100, 5, kLastShort}};
  const Attempt reserved = store->Reserve(start, slots);
  ASSERT_EQ(reserved.taken.size(), 2u);
  EXPECT_EQ(reserved.taken[0].capcode, 100u);
  EXPECT_EQ(reserved.taken[1].capcode, 105u);
  EXPECT_TRUE(std::regex_match(reserved.time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
      << reserved.time;

  Attempt done = reserved;
  done.firmware = "FLEX 3.10";
  done.capcodes = {"100", "", "0002101249", "105"};
  done.frequency = "462.0125";
  done.sha256 = std::string(64, 'a');
  done.result = Result::Programmed;
  done.message = "verified";
  done.seconds = 12.25;
  done.kept = "capcodes,prompt.1";
  done.firmwareFile = std::string(64, 'b');
  done.firmwareProgrammed = true;
  done.verification = "read-back";
  store->MarkErased(done.id);
  store->Finish(done);
  EXPECT_EQ(this->Take(*store, slots), (std::vector<std::uint32_t>{110, 115}));

  const std::vector<Attempt> listed = store->List({});
  ASSERT_EQ(listed.size(), 2u);
  done.erased = true;
  EXPECT_EQ(listed[0], done);
  EXPECT_EQ(listed[1].result, Result::Reserved);
  EXPECT_EQ(listed[1].station, records::DefaultStation());
}

// A board that failed before its first erase never held its capcodes; one that failed after it
// may hold them, so they stay out of the pool until released by hand.
TYPED_TEST(RecordStoreTest, FailedCapcodesReturnOnlyWhenNoEraseWasSent) {
  auto store = this->Open();
  std::int64_t id = 0;
  EXPECT_EQ(this->Take(*store, {kSlot1}, &id), std::vector<std::uint32_t>{1500000});
  this->End(*store, id, Result::Failed);
  EXPECT_EQ(this->Take(*store, {kSlot1}, &id), std::vector<std::uint32_t>{1500000});
  store->MarkErased(id);
  this->End(*store, id, Result::Failed);
  EXPECT_EQ(this->Take(*store, {kSlot1}, &id), std::vector<std::uint32_t>{1500001});
  this->End(*store, id, Result::Programmed);

  using records::ReleaseOutcome;
  EXPECT_EQ(store->Release(1, 1500001, true).kind, ReleaseOutcome::Programmed);
  EXPECT_EQ(store->Release(2, 1500000, true).kind, ReleaseOutcome::NotHeld) << "another slot";
  EXPECT_EQ(store->Release(1, 1499999, true).kind, ReleaseOutcome::NotHeld) << "never handed out";
  // The failed board was erased first: it may hold its capcode, as an open erased one may.
  EXPECT_EQ(store->Release(1, 1500000, false).kind, ReleaseOutcome::Erased) << "failed, erased";
  EXPECT_EQ(store->Release(1, 1500000, true).kind, ReleaseOutcome::Released);
  EXPECT_EQ(store->Release(1, 1500000, true).kind, ReleaseOutcome::NotHeld) << "released already";
  EXPECT_EQ(this->Take(*store, {kSlot1}, &id), std::vector<std::uint32_t>{1500000});

  // An open attempt is refused while its series runs (fresh heartbeat); once the heartbeat is
  // stale (a killed run), an erased one is released only by force and is closed as failed.
  store->MarkErased(id);
  EXPECT_EQ(store->Release(1, 1500000, true).kind, ReleaseOutcome::Running);
  ASSERT_TRUE(this->backend_.Sql("UPDATE attempts SET heartbeat = 0"));
  const ReleaseOutcome refused = store->Release(1, 1500000, false);
  EXPECT_EQ(refused.kind, ReleaseOutcome::Erased);
  EXPECT_EQ(refused.attempt.id, id);
  EXPECT_EQ(store->Release(1, 1500000, true).kind, ReleaseOutcome::Released);
  EXPECT_THROW(this->End(*store, id, Result::Programmed), RecordsError);
  EXPECT_THROW(store->MarkErased(id), RecordsError);
  const std::vector<Attempt> all = store->List({});
  EXPECT_EQ(all.back().result, Result::Failed);
  EXPECT_FALSE(all.back().taken.at(0).held);
  // The newest N, their taken capcodes gathered per attempt instead of joined, read the same.
  ListFilter newest;
  newest.limit = 2;
  EXPECT_EQ(store->List(newest), std::vector<Attempt>(all.end() - 2, all.end()));

  ListFilter failed;
  failed.failedOnly = true;
  EXPECT_EQ(store->List(failed).size(), 3u);
  // Open attempts are among those not programmed.
  this->Take(*store, {kSlot1}, &id);
  EXPECT_EQ(store->List(failed).size(), 4u);
}

// An open attempt's series runs while its heartbeat is fresh, unless it was opened on this station
// by a process that no longer exists (a run killed outright).
TEST(LeaseTest, AnOpenAttemptRunsWhileItsHeartbeatIsFreshAndItsProcessLives) {
  const std::int64_t now = 1'000'000;
  const records::LeaseCheck here{now, "bench", [](std::int64_t process) { return process == 7; }};
  const struct {
    Result result;
    std::int64_t age;  // seconds since the heartbeat
    const char* station;
    std::int64_t process;
    bool running;
  } rows[] = {
      {Result::Reserved, 0, "bench", 7, true},    {Result::Erased, 59, "bench", 7, true},
      {Result::Erased, 60, "bench", 7, false},     // stale heartbeat
      {Result::Erased, 0, "bench", 8, false},      // its process is gone
      {Result::Reserved, 0, "bench", 8, false},    // likewise
      {Result::Erased, 0, "other", 8, true},       // another station's process cannot be probed
      {Result::Erased, 0, "bench", 0, true},       // no process recorded
      {Result::Failed, 0, "bench", 7, false},      // finished
      {Result::Programmed, 0, "bench", 7, false},  // finished
  };
  for (const auto& row : rows) {
    Attempt attempt;
    attempt.result = row.result;
    attempt.heartbeat = now - row.age;
    attempt.station = row.station;
    attempt.process = row.process;
    EXPECT_EQ(records::Running(attempt, here), row.running)
        << records::ResultName(row.result) << " " << row.age << " " << row.station << " "
        << row.process;
  }
  // This very process exists; a process number no process has does not.
  Attempt mine;
  mine.heartbeat = records::ThisComputer().now;
  mine.station = records::DefaultStation();
  mine.process = ::getpid();
  EXPECT_TRUE(records::Running(mine));
  mine.process = 0x3FFFFFFF;  // above any pid_max Linux allows
  EXPECT_FALSE(records::Running(mine));
}

TYPED_TEST(RecordStoreTest, ARestartContinuesWithTheNextFreeCapcode) {
  std::int64_t gap = 0;
  {
    auto store = this->Open();
    std::int64_t id = 0;
    for (int board = 0; board < 3; ++board) {
      this->Take(*store, {kSlot1}, &id);
      this->End(*store, id, Result::Programmed);
    }
    this->Take(*store, {kSlot1}, &gap);
    this->Take(*store, {kSlot1}, &id);  // left open, as by a crash during its Write
    store->MarkErased(id);
    this->End(*store, gap, Result::Failed);
  }
  auto store = this->Open();
  EXPECT_EQ(this->Take(*store, {kSlot1}), std::vector<std::uint32_t>{1500003});
  EXPECT_EQ(this->Take(*store, {kSlot1}), std::vector<std::uint32_t>{1500005});
}

// A progression is new to a database until an attempt takes one of its capcodes, under any slot;
// a capcode returned to the pool was handed out all the same.
TYPED_TEST(RecordStoreTest, KnowsWhichProgressionsItHasHandedOutFrom) {
  auto store = this->Open();
  EXPECT_FALSE(store->HasHandedOut(1500000, 1));
  std::int64_t id = 0;
  this->Take(*store, {{2, 1500010, 1, kLastShort}}, &id);
  this->End(*store, id, Result::Failed);
  const std::tuple<std::uint32_t, std::uint32_t, bool> progressions[] = {
      {1500010, 1, true},  {1500000, 1, true},  {1500000, 10, true}, {1500000, 3, false},
      {1500011, 1, false}, {1499990, 20, true}, {1500001, 4, false},
  };
  for (const auto& [first, step, seen] : progressions)
    EXPECT_EQ(store->HasHandedOut(first, step), seen) << first << " step " << step;
}

TYPED_TEST(RecordStoreTest, RefusesSlotsItCannotServe) {
  auto store = this->Open();
  const std::vector<std::vector<CountingSlot>> refused = {
      {{0, 1, 1, kLastShort}},
      {{17, 1, 1, kLastShort}},
      {{1, 1, 0, kLastShort}},
      {{1, 10, 1, 9}},
      {{2, 1, 1, kLastShort}, {2, 5, 1, kLastShort}},
  };
  for (const auto& slots : refused)
    EXPECT_THROW(store->Reserve(this->Start("p"), slots), RecordsError);
  const CountingSlot two{3, 10, 5, 15};
  this->Take(*store, {two});
  this->Take(*store, {two});
  try {
    store->Reserve(this->Start("p"), {two});
    ADD_FAILURE() << "a used-up slot reserved";
  } catch (const RecordsError& error) {
    EXPECT_STREQ(error.what(), "slot 3 has no free capcode left (10 in steps of 5 up to 15)");
  }
  EXPECT_EQ(store->List({}).size(), 2u) << "a refused reservation leaves no attempt";
}

TYPED_TEST(RecordStoreTest, RefusesANewerSchema) {
  this->Open();
  ASSERT_TRUE(this->backend_.Sql("UPDATE schema_version SET version = 5"));
  try {
    this->Open();
    ADD_FAILURE() << "a newer schema opened";
  } catch (const RecordsError& error) {
    EXPECT_NE(std::string(error.what()).find("has schema version 5; this tuva knows version 4"),
              std::string::npos)
        << error.what();
  }
}

// A board programmed with capcodes it did not take from the pool (re-provisioned, keeping its own)
// holds them as surely as one that took them: the pool steps over them.
TYPED_TEST(RecordStoreTest, ThePoolStepsOverCapcodesAProgrammedBoardKeeps) {
  auto store = this->Open();
  Attempt kept = store->Reserve(this->Start("/dev/ttyUSB0"), {});
  kept.capcodes = {"1500001", "0000002001"};
  kept.kept = "capcodes";
  kept.result = Result::Programmed;
  store->Finish(kept);
  EXPECT_EQ(this->Take(*store, {kSlot1}), std::vector<std::uint32_t>{1500000});
  EXPECT_EQ(this->Take(*store, {kSlot1}), std::vector<std::uint32_t>{1500002});
}

// A database of an earlier version keeps its attempts and its identity (the journal of results
// not yet recorded is keyed by it) and takes the new columns; its programmed board's image, never
// kept, is refused with that reason.
TYPED_TEST(RecordStoreTest, AnEarlierVersionIsBroughtUpToDate) {
  const std::string version4 =
      "ALTER TABLE attempts DROP COLUMN template_id; ALTER TABLE attempts DROP COLUMN image_runs;"
      "DROP TABLE template_image;";
  const std::string version3 =
      "ALTER TABLE attempts DROP COLUMN kept; ALTER TABLE attempts DROP COLUMN firmware_file;"
      "ALTER TABLE attempts DROP COLUMN firmware_programmed;"
      "ALTER TABLE attempts DROP COLUMN verification; DROP TABLE list_capcode;"
      "DROP TABLE list_row; DROP TABLE capcode_list;";
  std::string identity;
  {
    auto store = this->Open();
    identity = store->Identity();
    this->End(*store, store->Reserve(this->Start("/dev/ttyUSB0"), {kSlot1}).id, Result::Programmed);
  }
  // Down to version 3, brought up; then down to version 2, brought up again.
  std::uint32_t next = 1500001;
  for (const auto& [version, sql] : {std::pair{3, version4}, std::pair{2, version4 + version3}}) {
    SCOPED_TRACE(version);
    ASSERT_TRUE(
        this->backend_.Sql(sql + "UPDATE schema_version SET version = " + std::to_string(version)));
    EXPECT_THROW(records::OpenRecordStore(this->backend_.where, records::OpenMode::ReadOnly),
                 RecordsError);
    auto store = records::OpenRecordStore(this->backend_.where, records::OpenMode::Existing);
    EXPECT_EQ(store->Identity(), identity);
    const std::vector<Attempt> listed = store->List({});
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed[0].result, Result::Programmed);
    try {
      records::RebuildImage(*store, listed[0]);
      ADD_FAILURE() << "an image rebuilt that was never kept";
    } catch (const RecordsError& error) {
      EXPECT_STREQ(error.what(), "attempt #1 was recorded before images were kept");
    }
    // The board it programmed is held against it by the SHA-256 of its image alone.
    ConfigImage board = ConfigImage::StartupImage();
    ASSERT_EQ(series::SetCapcodes(board, {{1, 1500000}}), std::nullopt);
    const series::BoardCheck check = series::CheckBoard(*store, board);
    EXPECT_EQ(check.attempt.id, 1);
    EXPECT_TRUE(check.bySha256);
    EXPECT_EQ(this->Take(*store, {kSlot1}), std::vector<std::uint32_t>{next++});
    EXPECT_EQ(store->ImportList({"ab", "list.csv", "prompt.1", {{2, "A", {}}}}).free, 1u);
  }
}

// Every programmed board's image comes back exactly from its template (kept once per SHA-256)
// and the bytes the board changed of it: a counted capcode, a list row's values in several places,
// fields kept from the board next to each other, the sum bytes at the end, a board left as the
// template, and a template changed between boards.
TYPED_TEST(RecordStoreTest, RebuildsEveryProgrammedBoardsImage) {
  auto store = this->Open();
  std::vector<std::uint8_t> first(4100);
  for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> second = first;
  second[0x200] ^= 0xFF;  // the frequency changed in the template
  const ConfigImage startup = ConfigImage::StartupImage();
  const std::vector<std::uint8_t> board(startup.bytes().begin(), startup.bytes().end());
  struct Case {
    const char* name;
    const std::vector<std::uint8_t>* from;
    std::vector<std::pair<std::size_t, std::uint8_t>> writes;
    bool sealed = false;  // its group map, sum and check bytes made from its other bytes
  };
  const Case cases[] = {
      {"counted capcode", &first, {{0x24, 0x0F}, {0x25, 0x42}, {0x26, 0x40}, {4094, 1}}},
      {"list row", &first, {{0x24, 1}, {0x84B, 'A'}, {0x84C, 'B'}, {0x900, 0}, {4099, 9}}},
      {"kept fields", &first, {{0x10, 1}, {0x12, 2}, {0x13, 3}, {0x17, 4}, {0x18, 5}}},
      {"as the template", &first, {}},
      {"changed template", &second, {{0x24, 0x0F}, {4095, 0}}},
      {"first byte and last", &second, {{0, 0xAA}, {4099, 0x55}}},
      {"group map and sum made again", &board, {{0xA2, 0x17}, {0xA3, 0x63}}, true},
      {"as the template, group map and sum made again", &board, {}, true},
      {"capcode 1500000, its group in the map",
       &board,
       {{160, 0x80}, {161, 0x17}, {162, 0x63}, {163, 0x60}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> written = *c.from;
    for (const auto& [offset, value] : c.writes) written[offset] = value;
    if (c.sealed) {
      // As the capcode editors and every transfer leave an image: the group map of its capcodes,
      // the sum and check bytes of its data.
      ConfigImage image;
      image.Assign(std::span<const std::uint8_t, kImageSize>(written.data(), kImageSize));
      std::array<std::optional<std::uint32_t>, kCapcodeSlots> values;
      const CapcodeRefill refill = DecodeCapcodes(image);
      for (std::size_t slot = 0; slot < values.size(); ++slot)
        values[slot] = refill.slots[slot].value;
      UpdateCapcodeGroupMap(image, values);
      image.Seal();
      written.assign(image.bytes().begin(), image.bytes().end());
    }
    Attempt attempt = store->Reserve(this->Start("/dev/ttyUSB0"), {});
    attempt.result = Result::Programmed;
    attempt.sha256 = records::Sha256Hex(written.data(), written.size());
    records::KeepImage(attempt, *c.from, written);
    store->Finish(attempt);
    ListFilter one;
    one.id = attempt.id;
    const std::vector<Attempt> listed = store->List(one);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].templateSha256, attempt.templateSha256);
    EXPECT_LE(listed[0].imageRuns.size(), c.sealed ? 13u : 40u) << listed[0].imageRuns;
    EXPECT_EQ(listed[0].imageRuns.starts_with('='), c.sealed) << listed[0].imageRuns;
    EXPECT_EQ(records::RebuildImage(*store, listed[0]), written);
  }
  // Each template once, whatever the number of boards made from it: the count of kept templates
  // read back as a template's one byte.
  ASSERT_TRUE(
      this->backend_.Sql("INSERT INTO template_image (sha256, image) SELECT 'count',"
                         " '0' || (SELECT count(*) FROM template_image)"));
  EXPECT_EQ(store->TemplateImage("count"), std::vector<std::uint8_t>{3});

  // A board whose recorded SHA-256 is not the one of its rebuilt image is named, not returned;
  // and one not programmed has no image to rebuild.
  Attempt wrong = store->Reserve(this->Start("/dev/ttyUSB0"), {});
  wrong.result = Result::Programmed;
  wrong.sha256 = std::string(64, '0');
  records::KeepImage(wrong, first, first);
  store->Finish(wrong);
  Attempt failed = store->Reserve(this->Start("/dev/ttyUSB0"), {});
  failed.result = Result::Failed;
  records::KeepImage(failed, first, first);
  store->Finish(failed);
  const std::vector<Attempt> listed = store->List({});
  EXPECT_THROW(records::RebuildImage(*store, listed.at(listed.size() - 2)), RecordsError);
  try {
    records::RebuildImage(*store, listed.back());
    ADD_FAILURE() << "a failed attempt's image rebuilt";
  } catch (const RecordsError& error) {
    EXPECT_EQ(std::string(error.what()),
              "attempt #" + std::to_string(failed.id) + " was not programmed");
  }
}

// A list's rows go out in file order, each once; a row comes back only when its board failed
// before any erase (or its capcode is released), and the same file imported again goes on.
TYPED_TEST(RecordStoreTest, ListRowsAreHandedOutInOrderAndOnce) {
  auto store = this->Open();
  records::ListImport list{std::string(64, 'c'), "list.csv", "capcode.2.address", {}};
  for (int line = 2; line <= 5; ++line) {
    list.rows.push_back({line, std::to_string(1600000 + line), {{2, 1600000u + line}}});
  }
  const records::ListState imported = store->ImportList(list);
  EXPECT_EQ(imported.free, 4u);
  auto next = [&](std::int64_t* id = nullptr) {
    records::ListRow row;
    const Attempt attempt =
        store->ReserveRow(this->Start("/dev/ttyUSB0"), {kSlot1}, imported.id, row);
    if (id) *id = attempt.id;
    EXPECT_EQ(attempt.taken.size(), 2u);
    return row.line;
  };
  std::int64_t id = 0;
  EXPECT_EQ(next(&id), 2);
  this->End(*store, id, Result::Failed);  // before any erase: line 2 comes back
  EXPECT_EQ(next(&id), 2);
  this->End(*store, id, Result::Programmed);
  EXPECT_EQ(next(&id), 3);
  store->MarkErased(id);
  this->End(*store, id, Result::Failed);  // after the erase: line 3 stays out
  EXPECT_EQ(next(&id), 4);

  // The same file again: the same list, where it stopped; line 4 is being written.
  const records::ListState again = store->ImportList(list);
  EXPECT_EQ(again.id, imported.id);
  EXPECT_EQ((std::vector<std::size_t>{again.used, again.free, again.failed}),
            (std::vector<std::size_t>{2, 1, 1}));
  EXPECT_EQ(next(), 5);
  EXPECT_THROW(next(), RecordsError);  // used up
  ASSERT_TRUE(this->backend_.Sql("UPDATE attempts SET heartbeat = 0"));
  EXPECT_EQ(store->Release(2, 1600003, true).kind, records::ReleaseOutcome::Released);
  EXPECT_EQ(next(), 3);

  // Another file with a capcode a programmed board has: named at import, and not imported.
  const records::ListState other = store->ImportList(
      {std::string(64, 'd'), "other.csv", "capcode.3.address", {{2, "1600002", {{3, 1600002}}}}});
  ASSERT_TRUE(other.conflict);
  EXPECT_EQ(other.conflict->line, 2);
  EXPECT_FALSE(store->FindList(std::string(64, 'd')));
}

// A file with another SHA-256 under an imported list's name (or with its header and capcodes
// under another name) is that list again: with its rows (compared as the reader keeps them, so a
// re-save with other line ends is one) and new ones at the end, the list takes the new rows; with
// a row changed it is refused, and nothing of it is imported.
TYPED_TEST(RecordStoreTest, AChangedListGrowsAtItsEndOrIsRefusedWhole) {
  auto store = this->Open();
  auto file = [](char sha, const std::string& name, int rows, int changedLine = 0) {
    records::ListImport list{std::string(64, sha), name, "capcode.2.address", {}};
    for (int line = 2; line < rows + 2; ++line) {
      const std::uint32_t capcode = 1600000 + line + (line == changedLine ? 50 : 0);
      list.rows.push_back({line, std::to_string(capcode), {{2, capcode}}});
    }
    return list;
  };
  const records::ListState first = store->ImportList(file('a', "list.csv", 2));
  for (int board = 0; board < 2; ++board) {
    records::ListRow row;
    const Attempt attempt = store->ReserveRow(this->Start("/dev/ttyUSB0"), {}, first.id, row);
    this->End(*store, attempt.id, Result::Programmed);
  }
  struct Case {
    records::ListImport list;
    std::size_t rows;  // the list's rows afterwards; 0: refused
    const char* said;
  };
  const Case cases[] = {
      {file('b', "list.csv", 2), 2, ""},  // saved again: used up, nothing new
      {file('c', "list.csv", 3), 3, ""},  // one row appended
      {file('d', "copy.csv", 4), 4, ""},  // a copy under another name, one more
      {file('e', "list.csv", 5, 3), 0,    // line 3 changed
       "list.csv changed since it was imported as list #1: line 3 was \"1600003\", now "
       "\"1600053\"; a list may only grow at its end"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.list.sha256.substr(0, 1));
    const records::ListState state = store->ImportList(test.list);
    EXPECT_EQ(state.rows, test.rows);
    EXPECT_FALSE(state.conflict);
    if (test.rows > 0) {
      EXPECT_EQ(state.id, first.id);
      EXPECT_EQ(state.free, test.rows - 2);
      EXPECT_EQ(store->FindList(test.list.sha256)->id, first.id);
    } else {
      EXPECT_EQ(state.refused.rfind(test.said, 0), 0u) << state.refused;
      EXPECT_FALSE(store->FindList(test.list.sha256));
    }
  }
  EXPECT_EQ(store->FindList(std::string(64, 'd'))->rows, 4u);
  records::ListRow row;
  store->ReserveRow(this->Start("/dev/ttyUSB0"), {}, first.id, row);
  EXPECT_EQ(row.line, 4);
}

// Two connections (two stations, or two processes on one file) reserving at once.
TYPED_TEST(RecordStoreTest, ConcurrentReserversNeverShareACapcode) {
  constexpr int kBoards = 25;
  // Overlapping progressions in two slots make the races cross slots too.
  const std::vector<CountingSlot> slots = {{1, 1000, 2, kLastShort}, {2, 1000, 1, kLastShort}};
  auto first = this->Open();
  auto second = this->Open();
  std::vector<std::uint32_t> got[2];
  std::string errors[2];
  auto run = [&](RecordStore* store, int which) {
    try {
      for (int board = 0; board < kBoards; ++board) {
        std::int64_t id = 0;
        for (std::uint32_t capcode : this->Take(*store, slots, &id)) got[which].push_back(capcode);
        this->End(*store, id, board % 5 == 4 ? Result::Failed : Result::Programmed);
      }
    } catch (const RecordsError& error) {
      errors[which] = error.what();
    }
  };
  std::thread a(run, first.get(), 0);
  std::thread b(run, second.get(), 1);
  a.join();
  b.join();
  ASSERT_EQ(errors[0], "");
  ASSERT_EQ(errors[1], "");
  std::set<std::uint32_t> held;
  for (const Attempt& attempt : first->List({})) {
    for (const Attempt::Taken& taken : attempt.taken) {
      if (taken.held) {
        EXPECT_TRUE(held.insert(taken.capcode).second) << taken.capcode;
      }
    }
  }
  EXPECT_EQ(held.size(), 2u * 2 * kBoards * 4 / 5);
  EXPECT_EQ(first->List({}).size(), 2u * kBoards);
}

// Two connections taking list rows, each with a counting capcode of its own progression, at
// once: every row goes to one board, none is skipped, and the list is used up only at its end.
// A row one station is taking is stepped over by the other, not waited for and then lost.
TYPED_TEST(RecordStoreTest, ConcurrentStationsTakeEachListRowOnce) {
  constexpr int kRows = 40;
  records::ListImport list{std::string(64, 'e'), "list.csv", "capcode.2.address", {}};
  for (int line = 2; line < kRows + 2; ++line) {
    list.rows.push_back({line, std::to_string(1700000 + line), {{2, 1700000u + line}}});
  }
  auto first = this->Open();
  auto second = this->Open();
  const std::int64_t id = first->ImportList(list).id;
  std::vector<int> lines[2];
  std::vector<std::uint32_t> counted[2];
  std::string errors[2];
  auto run = [&](RecordStore* store, int which) {
    const std::vector<CountingSlot> slots = {
        {1, 1000u + static_cast<std::uint32_t>(which), 2, kLastShort}};
    try {
      for (;;) {
        records::ListRow row;
        const Attempt attempt = store->ReserveRow(this->Start("/dev/ttyUSB0"), slots, id, row);
        lines[which].push_back(row.line);
        counted[which].push_back(attempt.taken.at(0).capcode);
        this->End(*store, attempt.id, Result::Programmed);
      }
    } catch (const records::ListUsedUpError&) {
    } catch (const RecordsError& error) {
      errors[which] = error.what();
    }
  };
  std::thread a(run, first.get(), 0);
  std::thread b(run, second.get(), 1);
  a.join();
  b.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
  std::multiset<int> handed(lines[0].begin(), lines[0].end());
  handed.insert(lines[1].begin(), lines[1].end());
  std::multiset<int> all;
  for (const records::ListRow& row : list.rows) all.insert(row.line);
  EXPECT_EQ(handed, all);
  for (int which = 0; which < 2; ++which) {
    for (std::size_t k = 0; k < counted[which].size(); ++k) {
      EXPECT_EQ(counted[which][k], 1000u + which + 2 * k);
    }
  }
}

}  // namespace
}  // namespace tuva::testing
