#pragma once
// ROC curves as an SVG picture: true accept rate over false accept rate, one
// polyline per series, the equal-error diagonal, a legend, and grid lines.
#include <string>
#include <vector>

#include "Metrics.h"

namespace velmora_cli {

struct RocSeries {
    std::string label;
    std::vector<RocPoint> points; // as RocCurve returns them
    double eer = 0.0;             // shown in the legend and marked where the curve meets the diagonal
};

// The picture as text.
std::string RocSvg(const std::string& title, const std::vector<RocSeries>& series);

// Throws CliError (kExitInput) when the file cannot be written.
void WriteRocSvg(const std::string& path, const std::string& title, const std::vector<RocSeries>& series);

} // namespace velmora_cli
