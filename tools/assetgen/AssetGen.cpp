// vexal-assetgen FOLDER: draws the loading screen's eight pictures into FOLDER: the background
// "bg.png" (JPEG bytes, 1920 x 1080), the marker "front.png" and the caps and tracks of the
// filled bar ("left.png", "right.png", "track.png") and of the empty bar ("bleft.png",
// "bright.png", "btrack.png"). Everything is drawn from code with fixed numbers, so the output
// is the same on every run.
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The theme: deep blue-grey night, a bright cyan fill.
struct Rgb {
    double r, g, b;
};
constexpr Rgb kTrackDark{0.043, 0.063, 0.090};
constexpr Rgb kTrackMid{0.165, 0.224, 0.306};
constexpr Rgb kTrackLip{0.310, 0.412, 0.541};
constexpr Rgb kEdge{0.231, 0.333, 0.459};
constexpr Rgb kFillTop{0.820, 0.985, 1.000};
constexpr Rgb kFillHigh{0.498, 0.953, 1.000};
constexpr Rgb kFillMid{0.133, 0.722, 0.941};
constexpr Rgb kFillLow{0.071, 0.451, 0.788};

void Stop(cairo_pattern_t* p, double at, Rgb c, double a = 1.0) {
    cairo_pattern_add_color_stop_rgba(p, at, c.r, c.g, c.b, a);
}

cairo_pattern_t* EmptyTrackPattern(double top) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, top, 0, top + 11);
    Stop(p, 0.0, kTrackDark, 0.95);
    Stop(p, 0.15, kTrackDark, 0.95);
    Stop(p, 0.5, kTrackMid, 0.92);
    Stop(p, 0.85, kTrackMid, 0.92);
    Stop(p, 1.0, kTrackLip, 0.95);
    return p;
}

cairo_pattern_t* FillPattern(double top) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, top, 0, top + 11);
    Stop(p, 0.0, kFillTop);
    Stop(p, 0.12, kFillHigh);
    Stop(p, 0.55, kFillMid);
    Stop(p, 1.0, kFillLow);
    return p;
}

// A bar body from x to the right edge with a rounded left end, rows top..top+11.
void RoundedLeft(cairo_t* cr, double x, double right, double top) {
    double r = 5.5;
    cairo_new_path(cr);
    cairo_move_to(cr, right, top);
    cairo_line_to(cr, x + r, top);
    cairo_arc_negative(cr, x + r, top + r, r, -M_PI / 2, M_PI / 2);
    cairo_line_to(cr, right, top + 11);
    cairo_close_path(cr);
}

void RoundedRight(cairo_t* cr, double left, double x, double top) {
    double r = 5.5;
    cairo_new_path(cr);
    cairo_move_to(cr, left, top);
    cairo_line_to(cr, x - r, top);
    cairo_arc(cr, x - r, top + r, r, -M_PI / 2, M_PI / 2);
    cairo_line_to(cr, left, top + 11);
    cairo_close_path(cr);
}

void Diamond(cairo_t* cr, double cx, double cy, double half) {
    cairo_new_path(cr);
    cairo_move_to(cr, cx, cy - half);
    cairo_line_to(cr, cx + half, cy);
    cairo_line_to(cr, cx, cy + half);
    cairo_line_to(cr, cx - half, cy);
    cairo_close_path(cr);
}

cairo_surface_t* NewSurface(int w, int h, cairo_t** cr) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    *cr = cairo_create(s);
    return s;
}

bool SavePng(cairo_surface_t* s, const std::string& path) {
    cairo_surface_flush(s);
    return cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

// Track caps: the empty bar (b = true) and the filled bar.
cairo_surface_t* LeftCap(bool empty) {
    cairo_t* cr;
    cairo_surface_t* s = NewSurface(48, 18, &cr);
    RoundedLeft(cr, 9, 48, 3);
    cairo_pattern_t* p = empty ? EmptyTrackPattern(3) : FillPattern(3);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    cairo_set_line_width(cr, 1.0);
    if (empty) cairo_set_source_rgba(cr, kEdge.r, kEdge.g, kEdge.b, 0.9);
    else cairo_set_source_rgba(cr, kFillTop.r, kFillTop.g, kFillTop.b, 0.35);
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, 30, 18);
    cairo_clip(cr);
    cairo_stroke(cr);
    cairo_restore(cr);
    // The ornament at the start of the bar: a diamond, dim on the empty bar, lit on the filled one.
    Diamond(cr, 5.5, 8.5, 5.0);
    if (empty) {
        cairo_set_source_rgb(cr, kTrackMid.r, kTrackMid.g, kTrackMid.b);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, kEdge.r, kEdge.g, kEdge.b);
        cairo_stroke(cr);
    } else {
        cairo_pattern_t* glow = cairo_pattern_create_radial(5.5, 8.5, 0, 5.5, 8.5, 6);
        Stop(glow, 0.0, kFillTop);
        Stop(glow, 1.0, kFillMid);
        cairo_set_source(cr, glow);
        cairo_fill(cr);
        cairo_pattern_destroy(glow);
    }
    cairo_destroy(cr);
    return s;
}

cairo_surface_t* RightCap(bool empty) {
    int h = empty ? 13 : 11;
    double top = empty ? 3 : 0;
    cairo_t* cr;
    cairo_surface_t* s = NewSurface(47, h, &cr);
    RoundedRight(cr, 0, 42, top);
    cairo_pattern_t* p = empty ? EmptyTrackPattern(top) : FillPattern(top);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    if (empty) {
        cairo_set_line_width(cr, 1.0);
        cairo_set_source_rgba(cr, kEdge.r, kEdge.g, kEdge.b, 0.9);
        cairo_save(cr);
        cairo_rectangle(cr, 20, 0, 27, h);
        cairo_clip(cr);
        cairo_stroke(cr);
        cairo_restore(cr);
    }
    cairo_destroy(cr);
    return s;
}

cairo_surface_t* Track(bool empty) {
    cairo_t* cr;
    cairo_surface_t* s = NewSurface(1, 11, &cr);
    cairo_pattern_t* p = empty ? EmptyTrackPattern(0) : FillPattern(0);
    cairo_set_source(cr, p);
    cairo_paint(cr);
    cairo_pattern_destroy(p);
    cairo_destroy(cr);
    return s;
}

// The marker: a white-hot point with a cyan halo and a horizontal flare, its centre at column 38
// (80 pixels left of its right edge, where the fill ends) and row 47.
cairo_surface_t* Marker() {
    cairo_t* cr;
    cairo_surface_t* s = NewSurface(118, 94, &cr);
    const double cx = 38, cy = 47;
    cairo_pattern_t* halo = cairo_pattern_create_radial(cx, cy, 0, cx, cy, 40);
    Stop(halo, 0.0, kFillHigh, 0.85);
    Stop(halo, 0.25, kFillMid, 0.45);
    Stop(halo, 1.0, kFillLow, 0.0);
    cairo_set_source(cr, halo);
    cairo_arc(cr, cx, cy, 40, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(halo);
    // Horizontal flare, brightest at the point.
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, 1.0, 0.06);
    cairo_pattern_t* flare = cairo_pattern_create_radial(0, 0, 0, 0, 0, 72);
    Stop(flare, 0.0, kFillTop, 0.95);
    Stop(flare, 1.0, kFillHigh, 0.0);
    cairo_set_source(cr, flare);
    cairo_arc(cr, 0, 0, 72, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(flare);
    cairo_restore(cr);
    // Four-point star.
    cairo_new_path(cr);
    const double long_ = 15, short_ = 2.6;
    cairo_move_to(cr, cx, cy - long_);
    cairo_line_to(cr, cx + short_, cy - short_);
    cairo_line_to(cr, cx + long_, cy);
    cairo_line_to(cr, cx + short_, cy + short_);
    cairo_line_to(cr, cx, cy + long_);
    cairo_line_to(cr, cx - short_, cy + short_);
    cairo_line_to(cr, cx - long_, cy);
    cairo_line_to(cr, cx - short_, cy - short_);
    cairo_close_path(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.95);
    cairo_fill(cr);
    cairo_pattern_t* core = cairo_pattern_create_radial(cx, cy, 0, cx, cy, 6);
    cairo_pattern_add_color_stop_rgba(core, 0.0, 1, 1, 1, 1);
    cairo_pattern_add_color_stop_rgba(core, 1.0, 1, 1, 1, 0);
    cairo_set_source(cr, core);
    cairo_arc(cr, cx, cy, 6, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(core);
    cairo_destroy(cr);
    return s;
}

// A fixed pseudo-random sequence (so the star field is the same on every run).
uint32_t gSeed = 20160618u;
double Random() {
    gSeed = gSeed * 1664525u + 1013904223u;
    return double(gSeed >> 8) / double(1u << 24);
}

cairo_surface_t* Background() {
    cairo_t* cr;
    cairo_surface_t* s = NewSurface(1920, 1080, &cr);
    cairo_pattern_t* base = cairo_pattern_create_linear(0, 0, 0, 1080);
    cairo_pattern_add_color_stop_rgb(base, 0.0, 0.067, 0.098, 0.149);
    cairo_pattern_add_color_stop_rgb(base, 1.0, 0.024, 0.035, 0.059);
    cairo_set_source(cr, base);
    cairo_paint(cr);
    cairo_pattern_destroy(base);
    cairo_pattern_t* glow = cairo_pattern_create_radial(960, 430, 0, 960, 430, 900);
    cairo_pattern_add_color_stop_rgba(glow, 0.0, 0.118, 0.227, 0.373, 0.60);
    cairo_pattern_add_color_stop_rgba(glow, 1.0, 0.118, 0.227, 0.373, 0.0);
    cairo_set_source(cr, glow);
    cairo_paint(cr);
    cairo_pattern_destroy(glow);
    // Faint stars.
    for (int i = 0; i < 260; ++i) {
        double x = Random() * 1920, y = Random() * 860, r = 0.6 + Random() * 1.4, a = 0.15 + Random() * 0.45;
        cairo_set_source_rgba(cr, 0.75, 0.88, 1.0, a);
        cairo_arc(cr, x, y, r, 0, 2 * M_PI);
        cairo_fill(cr);
    }
    // Large quiet rings around the emblem.
    cairo_set_line_width(cr, 2.0);
    for (int i = 0; i < 4; ++i) {
        cairo_set_source_rgba(cr, 0.35, 0.60, 0.85, 0.10 - i * 0.02);
        cairo_arc(cr, 960, 430, 190 + i * 70, 0, 2 * M_PI);
        cairo_stroke(cr);
    }
    // The emblem: a broad V of light.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (int pass = 0; pass < 3; ++pass) {
        double width[] = {46, 24, 8};
        double alpha[] = {0.10, 0.22, 0.95};
        cairo_set_line_width(cr, width[pass]);
        if (pass == 2) cairo_set_source_rgba(cr, 0.82, 0.98, 1.0, alpha[pass]);
        else cairo_set_source_rgba(cr, 0.13, 0.72, 0.94, alpha[pass]);
        cairo_move_to(cr, 860, 350);
        cairo_line_to(cr, 960, 520);
        cairo_line_to(cr, 1060, 350);
        cairo_stroke(cr);
    }
    // A darker band under the bars keeps the status texts readable.
    cairo_pattern_t* band = cairo_pattern_create_linear(0, 820, 0, 1080);
    cairo_pattern_add_color_stop_rgba(band, 0.0, 0, 0, 0, 0.0);
    cairo_pattern_add_color_stop_rgba(band, 1.0, 0, 0, 0, 0.45);
    cairo_set_source(cr, band);
    cairo_rectangle(cr, 0, 820, 1920, 260);
    cairo_fill(cr);
    cairo_pattern_destroy(band);
    cairo_destroy(cr);
    return s;
}

bool SaveJpeg(cairo_surface_t* s, const std::string& path) {
    cairo_surface_flush(s);
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
    const uint8_t* in = cairo_image_surface_get_data(s);
    int inStride = cairo_image_surface_get_stride(s);
    guchar* out = gdk_pixbuf_get_pixels(pixbuf);
    int outStride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(in + size_t(y) * inStride);
        guchar* o = out + size_t(y) * outStride;
        for (int x = 0; x < w; ++x) {
            o[3 * x] = (row[x] >> 16) & 0xFF;
            o[3 * x + 1] = (row[x] >> 8) & 0xFF;
            o[3 * x + 2] = row[x] & 0xFF;
        }
    }
    bool ok = gdk_pixbuf_save(pixbuf, path.c_str(), "jpeg", nullptr, "quality", "82", nullptr);
    g_object_unref(pixbuf);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: vexal-assetgen FOLDER\n  writes the loading screen's default pictures into FOLDER\n");
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: vexal-assetgen FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    struct Item {
        const char* name;
        cairo_surface_t* surface;
    } items[] = {
        {"front.png", Marker()},
        {"left.png", LeftCap(false)},
        {"right.png", RightCap(false)},
        {"track.png", Track(false)},
        {"bleft.png", LeftCap(true)},
        {"bright.png", RightCap(true)},
        {"btrack.png", Track(true)},
    };
    bool ok = true;
    for (Item& item : items) {
        ok = SavePng(item.surface, folder + "/" + item.name) && ok;
        cairo_surface_destroy(item.surface);
    }
    cairo_surface_t* bg = Background();
    // The background is a JPEG picture under a .png name; the loading screen decodes by content.
    ok = SaveJpeg(bg, folder + "/bg.png") && ok;
    cairo_surface_destroy(bg);
    if (!ok) std::fprintf(stderr, "vexal-assetgen: could not write the pictures into %s\n", folder.c_str());
    return ok ? 0 : 1;
}
