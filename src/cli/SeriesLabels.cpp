#include "cli/SeriesLabels.h"

#include <iostream>

namespace tuva::cli {

std::unique_ptr<labels::SeriesLabels> OpenSeriesLabels(const Options& options,
                                                       const series::SeriesPlan& plan) {
  if (options.labels.empty()) {
    if (!labels::ParseLabelSize(options.labelSize)) {
      throw UsageError(labels::LabelSizeProblem(options.labelSize));
    }
    return nullptr;
  }
  try {
    return std::make_unique<labels::SeriesLabels>(options.labels, options.labelSize, plan);
  } catch (const labels::LabelError& error) {
    throw UsageError(error.what());
  }
}

void WriteSeriesLabel(const labels::SeriesLabels* labels, const series::BoardReport& report) {
  if (!labels) return;
  try {
    labels->Write(report);
  } catch (const labels::LabelError& error) {
    std::cerr << "tuvactl: " << report.port
              << ": the board is programmed, but its label is not: " << error.what() << std::endl;
  }
}

}  // namespace tuva::cli
