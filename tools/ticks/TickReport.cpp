// Terminal table, JSON and SVG charts of the loading funnel.
#include "tools/ticks/TickReport.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <string>

const char* const kStateNames[kStateCount] = {"created",
                                              "downloading server data",
                                              "server data received",
                                              "fetching the package header",
                                              "fetching module files",
                                              "game module created",
                                              "handed over"};

namespace {

double Share(uint64_t part, uint64_t whole) { return whole ? double(part) / double(whole) : 0.0; }

uint64_t Lost(const VersionFigures& figures) {
    uint64_t lost = 0;
    for (uint64_t stopped : figures.mStopped) lost += stopped;
    return lost;
}

std::string Seconds(double ms) {
    if (ms < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, ms < 100000 ? "%.2f s" : "%.0f s", ms / 1000.0);
    return text;
}

std::string VersionTitle(const std::string& version) { return version.empty() ? "(none sent)" : version; }

void PrintVersion(std::FILE* out, const VersionFigures& figures, const char* title) {
    std::fprintf(out, "%s: %llu runs, %llu handed over, %llu lost, %llu warm", title,
                 (unsigned long long)figures.mRuns, (unsigned long long)figures.mReached[kHandedOver],
                 (unsigned long long)Lost(figures), (unsigned long long)figures.mWarm);
    if (figures.mOpenAtEnd) std::fprintf(out, ", %llu still loading at the end", (unsigned long long)figures.mOpenAtEnd);
    std::fprintf(out, "\n  %-31s %9s %7s %8s %7s %10s %10s\n", "state", "reached", "share", "lost", "lost %",
                 "median", "p90");
    for (int state = 0; state < kStateCount; ++state) {
        std::fprintf(out, "  %d %-29s %9llu %6.1f%% %8llu %6.1f%% %10s %10s\n", state, kStateNames[state],
                     (unsigned long long)figures.mReached[state], 100.0 * Share(figures.mReached[state], figures.mRuns),
                     (unsigned long long)figures.mStopped[state],
                     100.0 * Share(figures.mStopped[state], figures.mReached[state]),
                     Seconds(figures.mTimeTo[state].Percentile(0.5)).c_str(),
                     Seconds(figures.mTimeTo[state].Percentile(0.9)).c_str());
    }
    const uint64_t lost = Lost(figures);
    if (lost == 0) return;
    std::fprintf(out, "  last progress of the %llu lost runs:", (unsigned long long)lost);
    const char* separator = " ";
    for (size_t tenth = 0; tenth < figures.mStoppedProgress.size(); ++tenth) {
        if (figures.mStoppedProgress[tenth] == 0) continue;
        std::fprintf(out, "%s%zu-%zu%% %llu", separator, tenth * 10, tenth * 10 + (tenth == 9 ? 10 : 9),
                     (unsigned long long)figures.mStoppedProgress[tenth]);
        separator = ", ";
    }
    if (figures.mStoppedWithoutProgress)
        std::fprintf(out, "%snone sent %llu", separator, (unsigned long long)figures.mStoppedWithoutProgress);
    std::fputc('\n', out);
}

void JsonText(std::string& json, const std::string& text) {
    json += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') json += '\\';
        json += c;
    }
    json += '"';
}

void JsonNumber(std::string& json, const char* format, double value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    json += text;
}

void JsonCount(std::string& json, const char* name, uint64_t value) {
    json += '"';
    json += name;
    json += "\":";
    json += std::to_string(value);
}

void JsonVersion(std::string& json, const VersionFigures& figures) {
    json += "{\"appVersion\":";
    JsonText(json, figures.mAppVersion);
    json += ',';
    JsonCount(json, "runs", figures.mRuns);
    json += ',';
    JsonCount(json, "handedOver", figures.mReached[kHandedOver]);
    json += ',';
    JsonCount(json, "lost", Lost(figures));
    json += ',';
    JsonCount(json, "stillLoading", figures.mOpenAtEnd);
    json += ',';
    JsonCount(json, "warm", figures.mWarm);
    json += ",\"states\":[";
    for (int state = 0; state < kStateCount; ++state) {
        if (state) json += ',';
        json += "{\"state\":" + std::to_string(state) + ",\"name\":";
        JsonText(json, kStateNames[state]);
        json += ',';
        JsonCount(json, "reached", figures.mReached[state]);
        json += ',';
        JsonCount(json, "lost", figures.mStopped[state]);
        json += ",\"lostShare\":";
        JsonNumber(json, "%.4f", Share(figures.mStopped[state], figures.mReached[state]));
        const double median = figures.mTimeTo[state].Percentile(0.5), p90 = figures.mTimeTo[state].Percentile(0.9);
        json += ",\"medianSeconds\":";
        if (median < 0) json += "null";
        else JsonNumber(json, "%.3f", median / 1000.0);
        json += ",\"p90Seconds\":";
        if (p90 < 0) json += "null";
        else JsonNumber(json, "%.3f", p90 / 1000.0);
        json += '}';
    }
    json += "],\"lostProgress\":{\"tenths\":[";
    for (size_t tenth = 0; tenth < figures.mStoppedProgress.size(); ++tenth) {
        if (tenth) json += ',';
        json += std::to_string(figures.mStoppedProgress[tenth]);
    }
    json += "],";
    JsonCount(json, "noneSent", figures.mStoppedWithoutProgress);
    json += "}}";
}

// ---------------------------------------------------------------------------------------------
// SVG: two charts one above the other, every bar carrying its figures.

constexpr double kWidth = 960, kLabelRight = 230, kBarLeft = 240, kBarRight = 700, kRowHeight = 32, kBarHeight = 20;
constexpr double kChartTop = 70, kChartGap = 70;

void Colour(cairo_t* cr, unsigned rgb) {
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

double TextWidth(cairo_t* cr, const std::string& text) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    return extents.x_advance;
}

void Text(cairo_t* cr, double x, double y, const std::string& text, unsigned rgb, double size = 13,
          bool bold = false) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    Colour(cr, rgb);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

void TextRight(cairo_t* cr, double right, double y, const std::string& text, unsigned rgb) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 13);
    Text(cr, right - TextWidth(cr, text), y, text, rgb);
}

// A figure written on its bar when it fits inside, else just after the bar's end.
void BarLabel(cairo_t* cr, double barEnd, double y, const std::string& text) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 13);
    const double width = TextWidth(cr, text);
    if (barEnd - kBarLeft >= width + 12)
        Text(cr, barEnd - width - 6, y, text, 0xFFFFFF);
    else
        Text(cr, barEnd + 6, y, text, 0x222222);
}

std::string Format(const char* format, double a, double b = 0) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string ShortSeconds(double ms) {
    const double s = ms / 1000.0;
    return Format(s < 10 ? "%.2f s" : s < 100 ? "%.1f s"
                                              : "%.0f s",
                  s);
}

void FunnelChart(cairo_t* cr, const VersionFigures& figures, double top) {
    Text(cr, 20, top - 16, "Runs reaching each state, and runs lost there", 0x222222, 15, true);
    TextRight(cr, kWidth - 20, top - 16, Lost(figures) ? "lost here" : "none lost", 0x9A2A2A);
    for (int state = 0; state < kStateCount; ++state) {
        const double y = top + state * kRowHeight;
        const double baseline = y + kBarHeight / 2 + 5;
        TextRight(cr, kLabelRight, baseline, std::to_string(state) + " " + kStateNames[state], 0x222222);
        const double share = Share(figures.mReached[state], figures.mRuns);
        const double end = kBarLeft + share * (kBarRight - kBarLeft);
        Colour(cr, state == kHandedOver ? 0x2E7D4F : 0x3A6EA5);
        cairo_rectangle(cr, kBarLeft, y, std::max(1.0, end - kBarLeft), kBarHeight);
        cairo_fill(cr);
        BarLabel(cr, end, baseline,
                 std::to_string(figures.mReached[state]) + Format(" (%.1f %%)", 100.0 * share));
        if (state < kHandedOver && figures.mStopped[state])
            TextRight(cr, kWidth - 20, baseline,
                      std::to_string(figures.mStopped[state]) +
                          Format(" (%.1f %% of these)", 100.0 * Share(figures.mStopped[state], figures.mReached[state])),
                      0x9A2A2A);
    }
}

double NiceStep(double span) {
    const double raw = span / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (factor * power >= raw) return factor * power;
    return 10.0 * power;
}

void TimeChart(cairo_t* cr, const VersionFigures& figures, double top) {
    Text(cr, 20, top - 16, "Time from a run's first tick to each state: median bar, 90th percentile line", 0x222222, 15,
         true);
    double longest = 1000.0;
    for (const TimeHistogram& times : figures.mTimeTo) longest = std::max(longest, times.Percentile(0.9));
    const double scale = (kBarRight - kBarLeft) / longest;
    const double bottom = top + kStateCount * kRowHeight - (kRowHeight - kBarHeight);
    const double step = NiceStep(longest / 1000.0);
    cairo_set_line_width(cr, 1);
    for (double mark = 0; mark * 1000.0 <= longest * 1.0001; mark += step) {
        const double x = std::round(kBarLeft + mark * 1000.0 * scale) + 0.5;
        Colour(cr, 0xDDDDDD);
        cairo_move_to(cr, x, top - 4);
        cairo_line_to(cr, x, bottom + 4);
        cairo_stroke(cr);
        cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 11);
        const std::string label = Format(step < 1 ? "%.1f s" : "%.0f s", mark);
        Text(cr, x - TextWidth(cr, label) / 2, bottom + 18, label, 0x777777, 11);
    }
    for (int state = 0; state < kStateCount; ++state) {
        const double y = top + state * kRowHeight;
        const double baseline = y + kBarHeight / 2 + 5;
        TextRight(cr, kLabelRight, baseline, std::to_string(state) + " " + kStateNames[state], 0x222222);
        const double median = figures.mTimeTo[state].Percentile(0.5), p90 = figures.mTimeTo[state].Percentile(0.9);
        if (median < 0) {
            Text(cr, kBarLeft + 6, baseline, "no run reached this state", 0x777777);
            continue;
        }
        const double medianEnd = kBarLeft + median * scale, p90End = kBarLeft + p90 * scale;
        Colour(cr, 0x3A6EA5);
        cairo_rectangle(cr, kBarLeft, y, std::max(1.0, medianEnd - kBarLeft), kBarHeight);
        cairo_fill(cr);
        Colour(cr, 0x222222);
        cairo_set_line_width(cr, 2);
        cairo_move_to(cr, medianEnd, y + kBarHeight / 2);
        cairo_line_to(cr, p90End, y + kBarHeight / 2);
        cairo_move_to(cr, p90End, y + 3);
        cairo_line_to(cr, p90End, y + kBarHeight - 3);
        cairo_stroke(cr);
        Text(cr, std::max(p90End, medianEnd) + 8, baseline,
             "median " + ShortSeconds(median) + ", 90 % within " + ShortSeconds(p90), 0x222222);
    }
}

} // namespace

void PrintTable(std::FILE* out, const TickFunnel& funnel) {
    const auto& versions = funnel.Versions();
    for (const VersionFigures& figures : versions) {
        PrintVersion(out, figures, ("app version " + VersionTitle(figures.mAppVersion)).c_str());
        std::fputc('\n', out);
    }
    if (versions.size() != 1) {
        PrintVersion(out, funnel.Total(), "all app versions");
        std::fputc('\n', out);
    }
    const LineCounts& counts = funnel.Counts();
    std::fprintf(out, "lines: %llu read, %llu ticks, %llu other requests, %llu malformed (skipped)\n",
                 (unsigned long long)counts.mLines, (unsigned long long)counts.mTicks,
                 (unsigned long long)counts.mNotTicks, (unsigned long long)counts.mMalformed);
    if (counts.mLateTicks)
        std::fprintf(out, "ticks after a run's final tick: %llu (not counted again)\n",
                     (unsigned long long)counts.mLateTicks);
}

void PrintJson(std::FILE* out, const TickFunnel& funnel) {
    const LineCounts& counts = funnel.Counts();
    std::string json = "{\"lines\":{";
    JsonCount(json, "read", counts.mLines);
    json += ',';
    JsonCount(json, "ticks", counts.mTicks);
    json += ',';
    JsonCount(json, "otherRequests", counts.mNotTicks);
    json += ',';
    JsonCount(json, "malformed", counts.mMalformed);
    json += ',';
    JsonCount(json, "lateTicks", counts.mLateTicks);
    json += "},\"versions\":[";
    bool first = true;
    for (const VersionFigures& figures : funnel.Versions()) {
        if (!first) json += ',';
        first = false;
        JsonVersion(json, figures);
    }
    json += "],\"total\":";
    JsonVersion(json, funnel.Total());
    json += "}\n";
    std::fputs(json.c_str(), out);
}

bool WriteSvg(const std::string& path, const TickFunnel& funnel, std::string& problem) {
    const VersionFigures total = funnel.Total();
    const auto& versions = funnel.Versions();
    const double chartHeight = kStateCount * kRowHeight;
    const double height = kChartTop + chartHeight + kChartGap + chartHeight + 40;
    cairo_surface_t* surface = cairo_svg_surface_create(path.c_str(), kWidth, height);
    cairo_t* cr = cairo_create(surface);
    Colour(cr, 0xFFFFFF);
    cairo_paint(cr);
    std::string title = "Loading funnel: " + std::to_string(total.mRuns) + (total.mRuns == 1 ? " run" : " runs");
    if (versions.size() == 1)
        title += ", app version " + VersionTitle(versions[0].mAppVersion);
    else if (versions.size() > 1)
        title += " of " + std::to_string(versions.size()) + " app versions";
    Text(cr, 20, 26, title, 0x111111, 18, true);
    // The same counts as the terminal's heading, so that the parts add up to the runs above.
    std::string counts = std::to_string(total.mReached[kHandedOver]) + " handed over, " + std::to_string(Lost(total)) +
                         " lost, ";
    if (total.mOpenAtEnd) counts += std::to_string(total.mOpenAtEnd) + " still loading at the end, ";
    Text(cr, 20, 46,
         counts + std::to_string(total.mWarm) + " warm (game module created within a second of fetching module files)",
         0x444444, 13);
    FunnelChart(cr, total, kChartTop + 20);
    TimeChart(cr, total, kChartTop + 20 + chartHeight + kChartGap);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        problem = cairo_status_to_string(status);
        return false;
    }
    return true;
}
