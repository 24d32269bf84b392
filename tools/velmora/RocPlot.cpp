#include "RocPlot.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ExitCodes.h"

namespace velmora_cli {

namespace {

constexpr double kWidth = 640, kHeight = 600;
constexpr double kLeft = 70, kTop = 50, kSide = 500; // the square plot area
const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e",
                                "#17becf", "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22"};

double X(double far) { return kLeft + kSide * far; }
double Y(double tar) { return kTop + kSide * (1.0 - tar); }

std::string Num(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

std::string RocSvg(const std::string& title, const std::vector<RocSeries>& series)
{
    std::ostringstream s;
    s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\" font-family=\"sans-serif\" font-size=\"13\">\n";
    s << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    s << "<text x=\"" << kLeft + kSide / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">" << Escape(title)
      << "</text>\n";
    // Grid and tick labels every 0.1.
    for (int i = 0; i <= 10; ++i) {
        const double v = i / 10.0;
        s << "<line x1=\"" << Num(X(v)) << "\" y1=\"" << Num(Y(0)) << "\" x2=\"" << Num(X(v)) << "\" y2=\""
          << Num(Y(1)) << "\" stroke=\"#e0e0e0\"/>\n";
        s << "<line x1=\"" << Num(X(0)) << "\" y1=\"" << Num(Y(v)) << "\" x2=\"" << Num(X(1)) << "\" y2=\""
          << Num(Y(v)) << "\" stroke=\"#e0e0e0\"/>\n";
        s << "<text x=\"" << Num(X(v)) << "\" y=\"" << Num(Y(0) + 18) << "\" text-anchor=\"middle\">" << Num(v).substr(0, 3)
          << "</text>\n";
        s << "<text x=\"" << Num(X(0) - 8) << "\" y=\"" << Num(Y(v) + 4) << "\" text-anchor=\"end\">"
          << Num(v).substr(0, 3) << "</text>\n";
    }
    s << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kSide << "\" height=\"" << kSide
      << "\" fill=\"none\" stroke=\"black\"/>\n";
    s << "<text x=\"" << kLeft + kSide / 2 << "\" y=\"" << Num(Y(0) + 40)
      << "\" text-anchor=\"middle\">false accept rate (different people taken for the same)</text>\n";
    s << "<text transform=\"translate(18 " << kTop + kSide / 2
      << ") rotate(-90)\" text-anchor=\"middle\">true accept rate (same person accepted)</text>\n";
    // Where FAR equals FRR (TAR = 1 - FAR): a curve crosses it at its equal error rate.
    s << "<line x1=\"" << Num(X(0)) << "\" y1=\"" << Num(Y(1)) << "\" x2=\"" << Num(X(1)) << "\" y2=\"" << Num(Y(0))
      << "\" stroke=\"#999\" stroke-dasharray=\"6 4\"/>\n";
    s << "<line x1=\"" << Num(X(0)) << "\" y1=\"" << Num(Y(0)) << "\" x2=\"" << Num(X(1)) << "\" y2=\"" << Num(Y(1))
      << "\" stroke=\"#ccc\" stroke-dasharray=\"2 4\"/>\n";

    for (size_t k = 0; k < series.size(); ++k) {
        const RocSeries& r = series[k];
        const char* colour = kColours[k % (sizeof kColours / sizeof kColours[0])];
        s << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2\" points=\"";
        for (const RocPoint& p : r.points)
            s << Num(X(p.far)) << ',' << Num(Y(p.tar)) << ' ';
        s << "\"/>\n";
        if (std::isfinite(r.eer))
            s << "<circle cx=\"" << Num(X(r.eer)) << "\" cy=\"" << Num(Y(1.0 - r.eer)) << "\" r=\"4\" fill=\"" << colour
              << "\"/>\n";
        // Legend, lower right inside the plot.
        const double ly = Y(0) - 18.0 * static_cast<double>(series.size() - k);
        s << "<line x1=\"" << Num(X(0.45)) << "\" y1=\"" << Num(ly) << "\" x2=\"" << Num(X(0.5)) << "\" y2=\""
          << Num(ly) << "\" stroke=\"" << colour << "\" stroke-width=\"3\"/>\n";
        char eer[32];
        std::snprintf(eer, sizeof eer, "%.2f%%", 100.0 * r.eer);
        s << "<text x=\"" << Num(X(0.52)) << "\" y=\"" << Num(ly + 4) << "\">" << Escape(r.label) << " (EER "
          << (std::isfinite(r.eer) ? eer : "n/a") << ")</text>\n";
    }
    s << "</svg>\n";
    return s.str();
}

void WriteRocSvg(const std::string& path, const std::string& title, const std::vector<RocSeries>& series)
{
    std::ofstream out(path, std::ios::trunc);
    out << RocSvg(title, series);
    out.close();
    if (!out)
        throw CliError(kExitInput, "cannot write the ROC plot " + path);
}

} // namespace velmora_cli
