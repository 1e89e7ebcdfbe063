// tuvactl series --labels DIR [--label-size WxHmm]: a PDF label per programmed board.
#pragma once

#include <memory>

#include "cli/Commands.h"
#include "labels/SeriesLabels.h"

namespace tuva::cli {

// The run's labels; nullptr without --labels. A bad size or a folder that cannot be written is a
// UsageError, before any board.
std::unique_ptr<labels::SeriesLabels> OpenSeriesLabels(const Options& options,
                                                       const series::SeriesPlan& plan);

// Writes the board's label when `labels` is set and the board was programmed. A label that cannot
// be written is said on stderr; the board stays programmed.
void WriteSeriesLabel(const labels::SeriesLabels* labels, const series::BoardReport& report);

}  // namespace tuva::cli
