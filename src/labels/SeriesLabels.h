// The labels of a series: each programmed board's label from its report and the run's template.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "labels/Label.h"
#include "series/SeriesRun.h"

namespace tuva::labels {

// What every board of a series shares on its label.
struct SeriesFacts {
  std::string frequency;  // the template's
  std::string station;
};
SeriesFacts FactsOfSeries(const series::SeriesPlan& plan);

// A board's label facts; the time is now.
BoardFacts FactsOfBoard(const SeriesFacts& series, const series::BoardReport& report);

class SeriesLabels {
 public:
  // The folder and the size text as the operator gave them. Throws LabelError for a size text
  // ParseLabelSize refuses or a folder that cannot be written.
  SeriesLabels(const std::filesystem::path& folder, std::string_view sizeText,
               const series::SeriesPlan& plan);

  // Writes the label of a programmed board and returns its path; nullopt for a board that was not
  // programmed. Throws LabelError when the label cannot be written.
  std::optional<std::filesystem::path> Write(const series::BoardReport& report) const;

 private:
  LabelFolder folder_;
  SeriesFacts facts_;
};

}  // namespace tuva::labels
