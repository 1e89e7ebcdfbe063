#include "labels/SeriesLabels.h"

namespace tuva::labels {
namespace {

LabelSize SizeOf(std::string_view text) {
  const auto size = ParseLabelSize(text);
  if (!size) throw LabelError(LabelSizeProblem(text));
  return *size;
}

}  // namespace

SeriesFacts FactsOfSeries(const series::SeriesPlan& plan) {
  return {FrequencyText(plan.templateImage), plan.station};
}

BoardFacts FactsOfBoard(const SeriesFacts& series, const series::BoardReport& report) {
  BoardFacts facts;
  facts.capcodes = SplitCapcodes(report.capcodes);
  facts.frequency = series.frequency;
  facts.station = series.station;
  facts.firmware = report.firmware;
  facts.time = std::chrono::system_clock::now();
  return facts;
}

SeriesLabels::SeriesLabels(const std::filesystem::path& folder, std::string_view sizeText,
                           const series::SeriesPlan& plan)
    : folder_(folder, SizeOf(sizeText)), facts_(FactsOfSeries(plan)) {}

std::optional<std::filesystem::path> SeriesLabels::Write(const series::BoardReport& report) const {
  if (!report.programmed) return std::nullopt;
  return folder_.Write(FactsOfBoard(facts_, report));
}

}  // namespace tuva::labels
