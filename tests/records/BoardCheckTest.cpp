// A board held against the records, in both stores: which attempt its capcodes name, and what
// differs from what that attempt wrote.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "StoreBackends.h"
#include "features/FieldDiff.h"
#include "features/FieldValues.h"
#include "records/ImageRuns.h"
#include "records/Sha256.h"
#include "series/BoardCheck.h"
#include "series/SeriesImage.h"

namespace tuva::testing {
namespace {

using records::Attempt;
using records::CountingSlot;
using records::RecordStore;
using series::BoardCheck;

template <typename Backend>
class BoardCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { backend_.SetUp(); }
  void TearDown() override { backend_.TearDown(); }
  Backend backend_;
};
TYPED_TEST_SUITE(BoardCheckTest, Backends, BackendNames);

// A store that answers HoldersOf as the interface does by itself, from the listing of every
// attempt: what a store without its own lookup gives.
class ListingStore : public RecordStore {
 public:
  explicit ListingStore(RecordStore& store) : store_(store) {}
  std::string Name() const override { return store_.Name(); }
  std::string Identity() override { return store_.Identity(); }
  Attempt Reserve(const Attempt& start, const std::vector<CountingSlot>& slots) override {
    return store_.Reserve(start, slots);
  }
  void MarkErased(std::int64_t id) override { store_.MarkErased(id); }
  void Finish(const Attempt& attempt) override { store_.Finish(attempt); }
  void Beat() override {}
  void Each(const records::ListFilter& filter,
            const std::function<void(const Attempt&)>& row) override {
    store_.Each(filter, row);
  }
  std::optional<std::vector<std::uint8_t>> TemplateImage(const std::string& sha256) override {
    return store_.TemplateImage(sha256);
  }
  records::ReleaseOutcome Release(int slot, std::uint32_t capcode, bool force) override {
    return store_.Release(slot, capcode, force);
  }

 private:
  RecordStore& store_;
};

ConfigImage Set(ConfigImage image, const std::string& field, const std::string& text) {
  EXPECT_TRUE(SetFieldText(image, *FindField(field), text).ok) << field << '=' << text;
  return image;
}

ConfigImage WithCapcodes(ConfigImage image,
                         const std::vector<std::pair<int, std::uint32_t>>& capcodes) {
  EXPECT_EQ(series::SetCapcodes(image, capcodes), std::nullopt);
  return image;
}

// A board programmed from `from`: slot 1 counted from the pool (or kept as `from` has it), its
// image kept in the records unless it was recorded before they kept images.
struct Programmed {
  std::int64_t id = 0;
  ConfigImage image;
};
Programmed Program(RecordStore& store, const ConfigImage& from, bool counted, bool imageKept) {
  Attempt attempt = store.Reserve({}, counted ? std::vector<CountingSlot>{{1, 1500000, 1, 2097151}}
                                              : std::vector<CountingSlot>{});
  ConfigImage written = from;
  if (counted) written = WithCapcodes(written, {{1, attempt.taken.at(0).capcode}});
  written.Seal();
  attempt.result = records::Result::Programmed;
  attempt.firmware = "Model : FLEX    Version = 02.41";
  attempt.capcodes = series::CapcodeTexts(written);
  attempt.kept = counted ? "" : "capcodes";
  attempt.sha256 = records::Sha256Hex(written.bytes().data(), kImageSize);
  if (imageKept) records::KeepImage(attempt, from.bytes(), written.bytes());
  store.Finish(attempt);
  return {attempt.id, written};
}

// What the check says of each board: the attempt its capcodes name, a changed field named with
// both values, a capcode no record holds, capcodes of two boards, an attempt recorded before
// images were kept (by SHA-256 alone), a re-provisioned board (its newest attempt) and boards
// that keep capcodes nobody handed out next to the group capcode every board holds.
TYPED_TEST(BoardCheckTest, NamesTheBoardsAttemptAndWhatDiffersFromIt) {
  auto store = records::OpenRecordStore(this->backend_.where, records::OpenMode::Create);
  // Every board answers to group capcode 2000000 in slot 3 as well.
  const ConfigImage group = WithCapcodes(ConfigImage::StartupImage(), {{3, 2000000}});
  const Programmed elsewhere = Program(*store, WithCapcodes(group, {{1, 1800000}}), false, true);
  const Programmed elsewhere2 = Program(*store, WithCapcodes(group, {{2, 1800001}}), false, true);
  const Programmed a = Program(*store, group, true, true);
  const Programmed b = Program(*store, group, true, true);
  const Programmed old = Program(*store, group, true, false);
  const Programmed again =
      Program(*store, WithCapcodes(Set(group, "pll.n", "463.0125"), {{1, 1500000}}), false, true);

  using Kind = BoardCheck::Kind;
  struct Case {
    const char* name;
    ConfigImage board;
    Kind kind;
    std::int64_t attempt;
    std::int64_t other = 0;
    std::optional<std::uint32_t> capcode = std::nullopt;
    std::string changed = "";  // "field: recorded -> board" of the one field named
    bool bySha256 = false;
  };
  const Case cases[] = {
      {"as programmed", b.image, Kind::AsProgrammed, b.id},
      {"a changed frequency", Set(b.image, "pll.n", "463.0125"), Kind::Changed, b.id, 0,
       std::nullopt, "pll.n: 0044D800 (462.0000 MHz) -> 00450080 (463.0125 MHz)"},
      {"a capcode nobody was given", WithCapcodes(group, {{1, 1600000}}), Kind::NoRecord, 0, 0,
       1600000},
      {"capcodes of two boards", WithCapcodes(b.image, {{2, 1500002}}), Kind::TwoAttempts, b.id,
       old.id},
      {"recorded before images were kept", old.image, Kind::AsProgrammed, old.id, 0, std::nullopt,
       "", true},
      {"recorded before images were kept, changed", Set(old.image, "pll.n", "463.0125"),
       Kind::Changed, old.id, 0, std::nullopt, "", true},
      {"re-provisioned", again.image, Kind::AsProgrammed, again.id},
      {"re-provisioned, put back as it was before", a.image, Kind::Changed, again.id, 0,
       std::nullopt, "pll.n: 00450080 (463.0125 MHz) -> 0044D800 (462.0000 MHz)"},
      {"its own capcode kept, never handed out", elsewhere.image, Kind::AsProgrammed, elsewhere.id},
      {"capcodes two boards kept, neither handed out",
       WithCapcodes(group, {{1, 1800000}, {2, 1800001}}), Kind::TwoAttempts, elsewhere.id,
       elsewhere2.id},
  };
  ListingStore listing(*store);
  for (const auto& [storeName, checked] :
       {std::pair<const char*, RecordStore*>{"indexed", store.get()}, {"listed", &listing}})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(storeName) + ": " + c.name);
      const BoardCheck check = series::CheckBoard(*checked, c.board);
      EXPECT_EQ(check.kind, c.kind);
      EXPECT_EQ(check.attempt.id, c.attempt);
      EXPECT_EQ(check.other, c.other);
      EXPECT_EQ(check.capcode, c.capcode);
      EXPECT_EQ(check.bySha256, c.bySha256);
      std::string changed;
      if (c.kind == Kind::Changed && !c.bySha256) {
        const ReadableDiff diff = ReadableDifferences(check.fields, check.recorded, check.board);
        ASSERT_EQ(diff.rows.size(), 1u);
        changed = diff.rows[0].name + ": " + diff.rows[0].a + " -> " + diff.rows[0].b;
      }
      EXPECT_EQ(changed, c.changed);
      std::string answer;
      if (c.kind == Kind::NoRecord) {
        answer = "no record holds capcode " + std::to_string(c.capcode.value()) + " of this board";
      } else if (c.kind == Kind::TwoAttempts) {
        answer = "capcodes of two attempts: #" + std::to_string(c.attempt) + " and #" +
                 std::to_string(c.other);
      } else {
        answer = (c.kind == Kind::AsProgrammed ? "as programmed" : "changed since programmed") +
                 std::string(": attempt #") + std::to_string(c.attempt) + ", " +
                 check.attempt.time + ", station " + records::DefaultStation() + ", template " +
                 (c.bySha256 ? "-" : check.attempt.templateSha256.substr(0, 12)) +
                 " (firmware FLEX 02.41)";
      }
      EXPECT_EQ(series::CheckAnswer(check), answer);
    }
}

}  // namespace
}  // namespace tuva::testing
