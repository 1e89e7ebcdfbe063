// tuvactl records against a records file the test fills through the store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "records/RecordStore.h"
#include "support/RunProgram.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::Attempt;
using records::Result;

class RecordsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    db_ = (dir_ / "records.sqlite").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs tuvactl with XDG_DATA_HOME inside the test's folder.
  ProgramRun Tuvactl(const std::vector<std::string>& arguments) {
    return RunProgram(TUVACTL, arguments, dir_.string(),
                      {"XDG_DATA_HOME=" + (dir_ / "data").string()});
  }

  // Three boards on slot 1 from 1500000: programmed, failed after its erase, failed before.
  void FillRecords() {
    auto store = records::OpenRecordStore(db_, records::OpenMode::Create);
    const records::CountingSlot slot{1, 1500000, 1, 2097151};
    for (const Result result : {Result::Programmed, Result::Failed, Result::Failed}) {
      Attempt start;
      start.port = "/dev/ttyUSB0";
      start.station = "bench, left";
      Attempt attempt = store->Reserve(start, {slot});
      if (result == Result::Programmed || attempt.id == 2) store->MarkErased(attempt.id);
      attempt.result = result;
      attempt.firmware = "FLEX 3.10";
      attempt.capcodes = {std::to_string(attempt.taken[0].capcode), "0000002001"};
      attempt.message = result == Result::Failed ? "Verify Error! \"x\"" : "";
      attempt.seconds = 9.5;
      store->Finish(attempt);
    }
  }

  fs::path dir_ = fs::temp_directory_path() / ("tuva-records-cli-" + std::to_string(::getpid()));
  std::string db_;
};

TEST_F(RecordsCommandTest, ListsFindsAndReleases) {
  FillRecords();
  const ProgramRun text = Tuvactl({"records", "--records", db_});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 3) << text.out;
  EXPECT_NE(text.out.find("#1  "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("1=1500002(free)"), std::string::npos) << text.out;

  const auto json = nlohmann::json::parse(Tuvactl({"records", "--records", db_, "--json"}).out);
  ASSERT_EQ(json["attempts"].size(), 3u);
  EXPECT_EQ(json["attempts"][0]["result"], "programmed");
  EXPECT_EQ(json["attempts"][0]["capcodes"][1], "0000002001");
  EXPECT_EQ(json["attempts"][1]["taken"][0]["capcode"], 1500001);

  const ProgramRun csv = Tuvactl({"records", "--records", db_, "--csv", "--failed"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')),
            "id,time,station,port,firmware,capcodes,frequency,sha256,result,erased,message,"
            "seconds,taken");
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 3) << csv.out;
  EXPECT_NE(csv.out.find(",\"bench, left\",/dev/ttyUSB0,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find(",\"Verify Error! \"\"x\"\"\","), std::string::npos) << csv.out;

  const struct {
    const char* capcode;
    int status;
    const char* id;  // in the output, or the message on stderr
  } finds[] = {
      {"1500000", 0, "#1  "},
      {"2001", 0, "#1  "},
      {"1500001", 0, "#2  "},
      {"1500002", 1, "no board holds capcode 1500002"},
  };
  for (const auto& find : finds) {
    const ProgramRun run = Tuvactl({"records", "--records", db_, "--capcode", find.capcode});
    EXPECT_EQ(run.status, find.status) << find.capcode;
    EXPECT_NE((run.out + run.err).find(find.id), std::string::npos) << run.out << run.err;
  }

  EXPECT_EQ(Tuvactl({"records", "--records", db_, "--release", "1=1500000"}).status, 1);
  const ProgramRun release = Tuvactl({"records", "--records", db_, "--release", "1=1500001"});
  EXPECT_EQ(release.status, 0) << release.err;
  EXPECT_EQ(release.out, "capcode 1500001 of slot 1 is back in the pool\n");
  EXPECT_EQ(Tuvactl({"records", "--records", db_, "--capcode", "1500001"}).status, 1);
}

TEST_F(RecordsCommandTest, DefaultDatabaseAndBadInput) {
  EXPECT_EQ(Tuvactl({"records"}).status, 0);
  EXPECT_TRUE(fs::exists(dir_ / "data" / "tuva" / "records.sqlite"));

  const std::vector<std::vector<std::string>> bad = {
      {"records", "--records", dir_.string()},
      {"records", "--records", db_, "--release", "17=1500000"},
      {"records", "--records", db_, "--release", "1500000"},
      {"records", "--records", db_, "--capcode", "15x"},
      {"records", "--records", db_, "--json", "--csv"},
  };
  for (const auto& words : bad) {
    const ProgramRun run = Tuvactl(words);
    EXPECT_EQ(run.status, 2) << words.back();
    EXPECT_EQ(run.err.rfind("tuvactl: ", 0), 0u) << run.err;
  }
  EXPECT_NE(Tuvactl(bad[0]).err.find("records database " + dir_.string()), std::string::npos);
}

}  // namespace
}  // namespace tuva::testing
