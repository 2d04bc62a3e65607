// The drawing layer over Cairo (shapes and images), Pango with fontconfig (fonts and text) and
// gdk-pixbuf (decoding). The only file of the program that includes these libraries.
#include "Source/Platform/Graphics.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "Source/Platform/Pixels.h"

namespace {

// Images larger than this many pixels are refused (they decode to an empty image): a small file
// can claim a huge picture, and the loading screen never needs one.
constexpr int64_t kMaxImagePixels = 8192 * 8192;

// The widest layout, in pixels, whose width in Pango units (1/1024 pixel) still fits an int.
constexpr double kMaxLayoutWidth = double(INT32_MAX / PANGO_SCALE);

void SetSourceColour(cairo_t* cr, uint32_t colour) {
    cairo_set_source_rgba(cr, ((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                          (colour & 0xFF) / 255.0, ((colour >> 24) & 0xFF) / 255.0);
}

uint32_t SurfacePixel(cairo_surface_t* surface, int32_t x, int32_t y) {
    if (!surface) return 0;
    cairo_surface_flush(surface);
    return PixelColourAt(cairo_image_surface_get_data(surface), cairo_image_surface_get_width(surface),
                         cairo_image_surface_get_height(surface), cairo_image_surface_get_stride(surface), x, y);
}

// UTF-16 to UTF-8 for Pango; unpaired surrogates become U+FFFD. Never fails.
std::string ToUtf8(const WideChar* text) {
    std::string out;
    if (!text) return out;
    for (size_t i = 0; text[i]; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

struct GraphicsCanvas {
    cairo_surface_t* surface;
    cairo_t* cr;
};

struct GraphicsFont {
    PangoContext* context;
    PangoLayout* layout; // reused for every measurement and drawing of this font
    PangoFontDescription* description;
    float lineSpacing;
};

struct GraphicsImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<cairo_surface_t*> frames;
    std::vector<uint32_t> delays; // hundredths of a second; empty when the format has none
    int32_t selected = 0;
};

// ------------------------------------------------------------------------------------------------
// Canvas and shapes

static GraphicsCanvas* WrapSurface(cairo_surface_t* surface) {
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return _null;
    }
    cairo_t* cr = cairo_create(surface);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return _null;
    }
    // Shapes land on whole pixels as the system's drawing does by default; text keeps its smoothing.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr, 1.0);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    GraphicsCanvas* canvas = new (std::nothrow) GraphicsCanvas{surface, cr};
    if (!canvas) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    return canvas;
}

GraphicsCanvas* CreateCanvasOnPixels(uint8_t* pixels, int32_t width, int32_t height, int32_t stride) {
    if (!pixels || width <= 0 || height <= 0 || stride < width * 4) return _null;
    return WrapSurface(cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, stride));
}

GraphicsCanvas* CreateCanvas(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return _null;
    return WrapSurface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
}

void DestroyCanvas(GraphicsCanvas* canvas) {
    if (!canvas) return;
    cairo_destroy(canvas->cr);
    cairo_surface_destroy(canvas->surface);
    delete canvas;
}

int32_t CanvasWidth(const GraphicsCanvas* canvas) {
    return canvas ? cairo_image_surface_get_width(canvas->surface) : 0;
}

int32_t CanvasHeight(const GraphicsCanvas* canvas) {
    return canvas ? cairo_image_surface_get_height(canvas->surface) : 0;
}

const uint8_t* CanvasPixels(GraphicsCanvas* canvas, int32_t* stride) {
    if (!canvas) {
        if (stride) *stride = 0;
        return _null;
    }
    cairo_surface_flush(canvas->surface);
    if (stride) *stride = cairo_image_surface_get_stride(canvas->surface);
    return cairo_image_surface_get_data(canvas->surface);
}

uint32_t CanvasPixel(GraphicsCanvas* canvas, int32_t x, int32_t y) {
    return canvas ? SurfacePixel(canvas->surface, x, y) : 0;
}

void CanvasClear(GraphicsCanvas* canvas, uint32_t colour) {
    if (!canvas) return;
    cairo_t* cr = canvas->cr;
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    SetSourceColour(cr, colour);
    cairo_paint(cr);
    cairo_restore(cr);
}

void CanvasFillRect(GraphicsCanvas* canvas, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour) {
    if (!canvas || width <= 0 || height <= 0) return;
    SetSourceColour(canvas->cr, colour);
    cairo_rectangle(canvas->cr, x, y, width, height);
    cairo_fill(canvas->cr);
}

void CanvasDrawRect(GraphicsCanvas* canvas, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour) {
    if (!canvas || width < 0 || height < 0) return;
    // The pen runs through pixel centres, so the outline covers columns x..x+width inclusive.
    SetSourceColour(canvas->cr, colour);
    cairo_rectangle(canvas->cr, x + 0.5, y + 0.5, width, height);
    cairo_stroke(canvas->cr);
}

void CanvasDrawLine(GraphicsCanvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    if (!canvas) return;
    SetSourceColour(canvas->cr, colour);
    if (x1 == x2 && y1 == y2) {
        cairo_rectangle(canvas->cr, x1, y1, 1, 1);
        cairo_fill(canvas->cr);
        return;
    }
    cairo_move_to(canvas->cr, x1 + 0.5, y1 + 0.5);
    cairo_line_to(canvas->cr, x2 + 0.5, y2 + 0.5);
    cairo_stroke(canvas->cr);
}

// ------------------------------------------------------------------------------------------------
// Fonts and text

// The line spacing from the font's design metrics. A context with hinted metrics (the default
// for drawing) rounds ascent and descent up to whole pixels each, which makes lines stacked by
// their height drift apart by a pixel a line.
static float UnhintedLineSpacing(const PangoFontDescription* description) {
    PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, description, _null);
    int spacing = pango_font_metrics_get_height(metrics);
    if (spacing <= 0) spacing = pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
    pango_font_metrics_unref(metrics);
    g_object_unref(context);
    return float(spacing) / PANGO_SCALE;
}

GraphicsFont* CreateFont(const WideChar* family, float pixelSize) {
    if (!(pixelSize > 0)) return _null;
    GraphicsFont* font = new (std::nothrow) GraphicsFont{};
    if (!font) return _null;
    font->context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    font->description = pango_font_description_new();
    // A family list: fontconfig takes the first one present, "sans-serif" when the named one is not.
    std::string families = ToUtf8(family);
    families += families.empty() ? "sans-serif" : ",sans-serif";
    pango_font_description_set_family(font->description, families.c_str());
    pango_font_description_set_style(font->description, PANGO_STYLE_NORMAL);
    pango_font_description_set_weight(font->description, PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(font->description, double(pixelSize) * PANGO_SCALE);
    font->layout = pango_layout_new(font->context);
    pango_layout_set_font_description(font->layout, font->description);
    font->lineSpacing = UnhintedLineSpacing(font->description);
    return font;
}

void DestroyFont(GraphicsFont* font) {
    if (!font) return;
    g_object_unref(font->layout);
    g_object_unref(font->context);
    pango_font_description_free(font->description);
    delete font;
}

float FontLineSpacing(GraphicsFont* font) {
    return font ? font->lineSpacing : 0.0f;
}

float TextInkWidth(GraphicsFont* font, const WideChar* text) {
    if (!font || !text || !text[0]) return 0.0f;
    std::string utf8 = ToUtf8(text);
    pango_layout_set_width(font->layout, -1);
    pango_layout_set_text(font->layout, utf8.c_str(), int(utf8.size()));
    PangoRectangle ink;
    pango_layout_get_extents(font->layout, &ink, _null);
    return ink.width > 0 ? float(ink.width) / PANGO_SCALE : 0.0f;
}

void CanvasDrawText(GraphicsCanvas* canvas, GraphicsFont* font, const WideChar* text, double x, double y,
                    double width, double height, GraphicsAlign horizontal, GraphicsAlign vertical,
                    uint32_t colour) {
    if (!canvas || !font || !text || !text[0]) return;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height)) return;
    std::string utf8 = ToUtf8(text);
    PangoLayout* layout = font->layout;
    PangoAlignment alignment = horizontal == kGraphicsAlignFar      ? PANGO_ALIGN_RIGHT
                               : horizontal == kGraphicsAlignCenter ? PANGO_ALIGN_CENTER
                                                                    : PANGO_ALIGN_LEFT;
    // A rectangle without width or height is unbounded in that direction: no wrapping or clipping,
    // and the alignment places the text around its edge. A rectangle wider than a layout can be
    // (its width in Pango units must fit an int) wraps at that width; the block is then placed in
    // the rectangle here, as Pango would place it.
    bool boundedX = width > 0, boundedY = height > 0;
    double layoutWidth = boundedX ? std::min(width, kMaxLayoutWidth) : -1.0;
    pango_layout_set_width(layout, boundedX ? int(layoutWidth * PANGO_SCALE) : -1);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout, alignment);
    pango_layout_set_text(layout, utf8.c_str(), int(utf8.size()));
    PangoRectangle logical;
    pango_layout_get_extents(layout, _null, &logical);
    double textWidth = double(logical.width) / PANGO_SCALE;
    double textHeight = double(logical.height) / PANGO_SCALE;
    // The layout's box: its own width, or the rectangle's as far as the layout has it.
    double boxWidth = boundedX ? layoutWidth : textWidth;
    double spare = boundedX ? width - layoutWidth : -textWidth;
    double left = x;
    if (horizontal == kGraphicsAlignCenter) left = x + spare / 2;
    else if (horizontal == kGraphicsAlignFar) left = x + spare;
    double boxHeight = boundedY ? height : 0.0;
    double top = y;
    if (vertical == kGraphicsAlignCenter) top = y + (boxHeight - textHeight) / 2;
    else if (vertical == kGraphicsAlignFar) top = y + boxHeight - textHeight;

    // Clip to the rectangle and the canvas, in this precision: the drawing library's coordinates
    // hold only a few million pixels either way.
    double clipLeft = 0, clipTop = 0;
    double clipRight = cairo_image_surface_get_width(canvas->surface);
    double clipBottom = cairo_image_surface_get_height(canvas->surface);
    if (boundedX) clipLeft = std::max(clipLeft, x), clipRight = std::min(clipRight, x + width);
    if (boundedY) clipTop = std::max(clipTop, y), clipBottom = std::min(clipBottom, y + height);
    // The text's ink may reach a little past its logical box (slanted and overhanging glyphs).
    double margin = font->lineSpacing * 2 + 2;
    if (clipLeft >= clipRight || clipTop >= clipBottom || left - margin >= clipRight ||
        left + boxWidth + margin <= clipLeft || top - margin >= clipBottom || top + textHeight + margin <= clipTop)
        return;

    cairo_t* cr = canvas->cr;
    cairo_save(cr);
    cairo_rectangle(cr, clipLeft, clipTop, clipRight - clipLeft, clipBottom - clipTop);
    cairo_clip(cr);
    SetSourceColour(cr, colour);
    cairo_move_to(cr, left, top);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
}

// ------------------------------------------------------------------------------------------------
// Images

namespace {

const char* SniffImageType(const uint8_t* bytes, uint32_t size) {
    if (size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) return "png";
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return "jpeg";
    if (size >= 6 && (std::memcmp(bytes, "GIF87a", 6) == 0 || std::memcmp(bytes, "GIF89a", 6) == 0)) return "gif";
    if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return "bmp";
    return _null;
}

// Walks the blocks of a GIF file and collects one delay per image (hundredths of a second, from
// the graphic control extension before it; 0 without one). False when the block structure is
// broken before the first image.
bool ReadGifDelays(const uint8_t* bytes, uint32_t size, std::vector<uint32_t>& delays) {
    if (size < 13) return false;
    uint32_t pos = 13;
    if (bytes[10] & 0x80) pos += 3u * (2u << (bytes[10] & 7));
    uint32_t pendingDelay = 0;
    auto skipSubBlocks = [&](uint32_t& p) {
        while (p < size) {
            uint8_t length = bytes[p++];
            if (length == 0) return true;
            p += length;
        }
        return false;
    };
    while (pos < size) {
        uint8_t kind = bytes[pos++];
        if (kind == 0x3B) break;
        if (kind == 0x21) {
            if (pos >= size) break;
            uint8_t label = bytes[pos++];
            if (label == 0xF9 && pos + 5 < size && bytes[pos] == 4) pendingDelay = bytes[pos + 2] | (bytes[pos + 3] << 8);
            if (!skipSubBlocks(pos)) break;
        } else if (kind == 0x2C) {
            if (pos + 9 > size) break;
            uint8_t flags = bytes[pos + 8];
            pos += 9;
            if (flags & 0x80) pos += 3u * (2u << (flags & 7));
            pos += 1; // LZW minimum code size
            delays.push_back(pendingDelay);
            pendingDelay = 0;
            if (!skipSubBlocks(pos)) break;
        } else {
            break;
        }
    }
    return !delays.empty();
}

// A premultiplied ARGB32 copy of a pixbuf (RGB or RGBA, 8 bits per sample).
cairo_surface_t* SurfaceFromPixbuf(GdkPixbuf* pixbuf) {
    int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || (channels != 3 && channels != 4)) return _null;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return _null;
    }
    const guchar* source = gdk_pixbuf_read_pixels(pixbuf);
    int sourceStride = gdk_pixbuf_get_rowstride(pixbuf);
    uint8_t* target = cairo_image_surface_get_data(surface);
    int targetStride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        const guchar* in = source + size_t(y) * sourceStride;
        uint32_t* out = reinterpret_cast<uint32_t*>(target + size_t(y) * targetStride);
        for (int x = 0; x < width; ++x, in += channels) {
            uint32_t a = channels == 4 ? in[3] : 255;
            uint32_t r = (in[0] * a + 127) / 255, g = (in[1] * a + 127) / 255, b = (in[2] * a + 127) / 255;
            out[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

void RefuseHugeImage(GdkPixbufLoader* loader, gint width, gint height, gpointer refused) {
    if (int64_t(width) * int64_t(height) > kMaxImagePixels) {
        *static_cast<bool*>(refused) = true;
        gdk_pixbuf_loader_set_size(loader, 1, 1);
    }
}

// Every frame of an animation, composited as it shows at its turn.
void CollectFrames(GdkPixbufAnimation* animation, int32_t frameCount, GraphicsImage* image) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GTimeVal now = {0, 0};
    GdkPixbufAnimationIter* iter = gdk_pixbuf_animation_get_iter(animation, &now);
    for (int32_t i = 0; i < frameCount; ++i) {
        GdkPixbuf* frame = gdk_pixbuf_animation_iter_get_pixbuf(iter);
        cairo_surface_t* surface = frame ? SurfaceFromPixbuf(frame) : _null;
        if (!surface) break;
        image->frames.push_back(surface);
        int delay = gdk_pixbuf_animation_iter_get_delay_time(iter);
        if (delay < 0) break;
        g_time_val_add(&now, glong(delay) * 1000);
        gdk_pixbuf_animation_iter_advance(iter, &now);
    }
    g_object_unref(iter);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

} // namespace

GraphicsImage* DecodeImage(const uint8_t* bytes, uint32_t size) {
    GraphicsImage* image = new (std::nothrow) GraphicsImage;
    if (!image || !bytes || size == 0) return image;
    const char* type = SniffImageType(bytes, size);
    if (!type) return image;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, _null);
    if (!loader) return image;
    bool refused = false;
    g_signal_connect(loader, "size-prepared", G_CALLBACK(RefuseHugeImage), &refused);
    bool ok = gdk_pixbuf_loader_write(loader, bytes, size, _null);
    ok = gdk_pixbuf_loader_close(loader, _null) && ok;
    GdkPixbufAnimation* animation = ok && !refused ? gdk_pixbuf_loader_get_animation(loader) : _null;
    if (animation) {
        std::vector<uint32_t> delays;
        bool gif = std::strcmp(type, "gif") == 0 && ReadGifDelays(bytes, size, delays);
        if (gif && !gdk_pixbuf_animation_is_static_image(animation) && delays.size() > 1) {
            CollectFrames(animation, int32_t(delays.size()), image);
        } else if (GdkPixbuf* still = gdk_pixbuf_animation_get_static_image(animation)) {
            if (cairo_surface_t* surface = SurfaceFromPixbuf(still)) image->frames.push_back(surface);
        }
        if (!image->frames.empty()) {
            image->width = cairo_image_surface_get_width(image->frames[0]);
            image->height = cairo_image_surface_get_height(image->frames[0]);
            if (gif) {
                delays.resize(image->frames.size());
                image->delays = std::move(delays);
            }
        }
    }
    g_object_unref(loader);
    return image;
}

void DestroyImage(GraphicsImage* image) {
    if (!image) return;
    for (cairo_surface_t* frame : image->frames) cairo_surface_destroy(frame);
    delete image;
}

int32_t ImageWidth(const GraphicsImage* image) { return image ? image->width : 0; }
int32_t ImageHeight(const GraphicsImage* image) { return image ? image->height : 0; }
int32_t ImageFrameCount(const GraphicsImage* image) { return image ? int32_t(image->frames.size()) : 0; }

const uint32_t* ImageFrameDelays(const GraphicsImage* image) {
    return image && !image->delays.empty() ? image->delays.data() : _null;
}

void SelectImageFrame(GraphicsImage* image, int32_t index) {
    if (image && index >= 0 && index < int32_t(image->frames.size())) image->selected = index;
}

int32_t SelectedImageFrame(const GraphicsImage* image) { return image ? image->selected : 0; }

uint32_t ImagePixel(const GraphicsImage* image, int32_t x, int32_t y) {
    if (!image || image->frames.empty()) return 0;
    return SurfacePixel(image->frames[size_t(image->selected)], x, y);
}

void CanvasDrawImage(GraphicsCanvas* canvas, GraphicsImage* image, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
    if (!canvas || !image || image->frames.empty() || width <= 0 || height <= 0) return;
    cairo_t* cr = canvas->cr;
    cairo_surface_t* frame = image->frames[size_t(image->selected)];
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(frame);
    // Within the image a plain copy; beyond it the image repeats mirrored.
    if (width > image->width || height > image->height) cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REFLECT);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
    cairo_matrix_t matrix;
    cairo_matrix_init_translate(&matrix, -x, -y);
    cairo_pattern_set_matrix(pattern, &matrix);
    cairo_set_source(cr, pattern);
    cairo_rectangle(cr, x, y, width, height);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_pattern_destroy(pattern);
}

void KeepGraphicsLibrariesLoaded() {
    // Already loaded as our dependencies: RTLD_NOLOAD only takes a reference, RTLD_NODELETE
    // keeps them mapped when our own reference goes.
    static const char* const kLibraries[] = {"libpango-1.0.so.0", "libpangocairo-1.0.so.0", "libpangoft2-1.0.so.0",
                                             "libgdk_pixbuf-2.0.so.0"};
    for (const char* library : kLibraries)
        dlopen(library, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}
