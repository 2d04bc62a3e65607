// The drawing layer over the GDI+ flat interface: canvases are GDI+ bitmaps over premultiplied
// ARGB pixels, text goes through GDI+ fonts and string formats, images are decoded by GDI+ from
// memory streams and kept as premultiplied frames of our own. The host process starts GDI+; this
// library never starts or stops it. Without it every object comes out null or empty and nothing
// is drawn.
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>
// <windows.h> names the A/W forms of the system's CreateFont; ours is the drawing layer's.
#undef CreateFont

#include "Source/Platform/Graphics.h"
#include "Source/Platform/Pixels.h"
#include "Source/Platform/win32/WideText.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// Images larger than this many pixels are refused (they decode to an empty image): a small file
// can claim a huge picture, and the loading screen never needs one.
constexpr int64_t kMaxImagePixels = 8192 * 8192;
// GDI+'s frame-delay property: one 32-bit value per frame, in hundredths of a second.
constexpr PROPID kFrameDelayProperty = 0x5100;
// Families tried, in order, when neither the named family nor the generic sans-serif one exists.
const wchar_t* const kLastResortFamilies[] = {L"Arial", L"Tahoma", L"Liberation Sans", L"Microsoft Sans Serif"};

StringAlignment ToAlignment(GraphicsAlign align) {
    return align == kGraphicsAlignFar ? StringAlignmentFar : align == kGraphicsAlignCenter ? StringAlignmentCenter
                                                                                           : StringAlignmentNear;
}

} // namespace

struct GraphicsCanvas {
    uint8_t* pixels = _null;
    bool ownPixels = false;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    GpBitmap* bitmap = _null;
    GpGraphics* graphics = _null;
    GpSolidFill* brush = _null;
    GpPen* pen = _null;
};

struct GraphicsFont {
    GpFontFamily* family = _null; // null when the system has no family at all
    GpFont* font = _null;
    GpStringFormat* format = _null;
    float pixelSize = 0;
    float lineSpacing = 0;
};

struct GraphicsImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<std::vector<uint32_t>> frames; // premultiplied ARGB, rows width pixels apart
    std::vector<uint32_t> delays;              // hundredths of a second; empty when the format has none
    int32_t selected = 0;
};

// ------------------------------------------------------------------------------------------------
// Canvas and shapes

static GraphicsCanvas* WrapPixels(uint8_t* pixels, bool own, int32_t width, int32_t height, int32_t stride) {
    GraphicsCanvas* canvas = new (std::nothrow) GraphicsCanvas;
    if (canvas == _null) {
        if (own) std::free(pixels);
        return _null;
    }
    canvas->pixels = pixels;
    canvas->ownPixels = own;
    canvas->width = width;
    canvas->height = height;
    canvas->stride = stride;
    bool ok = GdipCreateBitmapFromScan0(width, height, stride, PixelFormat32bppPARGB, pixels, &canvas->bitmap) == Ok &&
              GdipGetImageGraphicsContext(canvas->bitmap, &canvas->graphics) == Ok &&
              GdipCreateSolidFill(0, &canvas->brush) == Ok && GdipCreatePen1(0, 1.0f, UnitPixel, &canvas->pen) == Ok;
    if (!ok) {
        DestroyCanvas(canvas);
        return _null;
    }
    // Shapes land on whole pixels, unsmoothed, as GDI+ draws by default; images are copied pixel
    // for pixel, their centres on the pixel grid.
    GdipSetSmoothingMode(canvas->graphics, SmoothingModeNone);
    GdipSetInterpolationMode(canvas->graphics, InterpolationModeNearestNeighbor);
    GdipSetPageUnit(canvas->graphics, UnitPixel);
    return canvas;
}

GraphicsCanvas* CreateCanvasOnPixels(uint8_t* pixels, int32_t width, int32_t height, int32_t stride) {
    if (pixels == _null || width <= 0 || height <= 0 || int64_t(stride) < int64_t(width) * 4) return _null;
    return WrapPixels(pixels, false, width, height, stride);
}

GraphicsCanvas* CreateCanvas(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || int64_t(width) * int64_t(height) * 4 > INT32_MAX) return _null;
    uint8_t* pixels = static_cast<uint8_t*>(std::calloc(size_t(width) * size_t(height), 4));
    if (pixels == _null) return _null;
    return WrapPixels(pixels, true, width, height, width * 4);
}

void DestroyCanvas(GraphicsCanvas* canvas) {
    if (canvas == _null) return;
    if (canvas->pen != _null) GdipDeletePen(canvas->pen);
    if (canvas->brush != _null) GdipDeleteBrush(canvas->brush);
    if (canvas->graphics != _null) GdipDeleteGraphics(canvas->graphics);
    if (canvas->bitmap != _null) GdipDisposeImage(canvas->bitmap);
    if (canvas->ownPixels) std::free(canvas->pixels);
    delete canvas;
}

int32_t CanvasWidth(const GraphicsCanvas* canvas) { return canvas != _null ? canvas->width : 0; }
int32_t CanvasHeight(const GraphicsCanvas* canvas) { return canvas != _null ? canvas->height : 0; }

const uint8_t* CanvasPixels(GraphicsCanvas* canvas, int32_t* stride) {
    if (stride != _null) *stride = canvas != _null ? canvas->stride : 0;
    if (canvas == _null) return _null;
    GdipFlush(canvas->graphics, FlushIntentionSync);
    return canvas->pixels;
}

uint32_t CanvasPixel(GraphicsCanvas* canvas, int32_t x, int32_t y) {
    if (canvas == _null) return 0;
    GdipFlush(canvas->graphics, FlushIntentionSync);
    return PixelColourAt(canvas->pixels, canvas->width, canvas->height, canvas->stride, x, y);
}

void CanvasClear(GraphicsCanvas* canvas, uint32_t colour) {
    if (canvas == _null) return;
    GdipGraphicsClear(canvas->graphics, colour);
}

void CanvasFillRect(GraphicsCanvas* canvas, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    if (canvas == _null || width <= 0 || height <= 0) return;
    GdipSetSolidFillColor(canvas->brush, colour);
    GdipFillRectangleI(canvas->graphics, canvas->brush, x, y, width, height);
}

void CanvasDrawRect(GraphicsCanvas* canvas, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    if (canvas == _null || width < 0 || height < 0) return;
    GdipSetPenColor(canvas->pen, colour);
    GdipDrawRectangleI(canvas->graphics, canvas->pen, x, y, width, height);
}

void CanvasDrawLine(GraphicsCanvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    if (canvas == _null) return;
    if (x1 == x2 && y1 == y2) {
        CanvasFillRect(canvas, x1, y1, 1, 1, colour);
        return;
    }
    GdipSetPenColor(canvas->pen, colour);
    GdipDrawLineI(canvas->graphics, canvas->pen, x1, y1, x2, y2);
}

// ------------------------------------------------------------------------------------------------
// Fonts and text

GraphicsFont* CreateFont(const WideChar* family, float pixelSize) {
    if (!(pixelSize > 0)) return _null;
    GraphicsFont* font = new (std::nothrow) GraphicsFont;
    if (font == _null) return _null;
    font->pixelSize = pixelSize;
    if (family != _null && family[0] != 0) GdipCreateFontFamilyFromName(SystemText(family), _null, &font->family);
    // The generic family is the system's own object: a clone is ours to delete.
    GpFontFamily* generic = _null;
    if (font->family == _null && GdipGetGenericFontFamilySansSerif(&generic) == Ok) GdipCloneFontFamily(generic, &font->family);
    for (const wchar_t* name : kLastResortFamilies) {
        if (font->family != _null) break;
        GdipCreateFontFamilyFromName(name, _null, &font->family);
    }
    if (font->family != _null && GdipCreateFont(font->family, pixelSize, FontStyleRegular, UnitPixel, &font->font) != Ok) font->font = _null;
    if (font->font != _null) {
        GdipGetFontHeightGivenDPI(font->font, 96.0f, &font->lineSpacing);
        GdipCreateStringFormat(0, LANG_NEUTRAL, &font->format);
    }
    return font;
}

void DestroyFont(GraphicsFont* font) {
    if (font == _null) return;
    if (font->format != _null) GdipDeleteStringFormat(font->format);
    if (font->font != _null) GdipDeleteFont(font->font);
    if (font->family != _null) GdipDeleteFontFamily(font->family);
    delete font;
}

float FontLineSpacing(GraphicsFont* font) { return font != _null ? font->lineSpacing : 0.0f; }

// The ink is the outline of the text added to a path: its bounds leave out the blanks and the
// side bearings that the layout's box holds.
float TextInkWidth(GraphicsFont* font, const WideChar* text) {
    if (font == _null || font->font == _null || text == _null || text[0] == 0) return 0.0f;
    GpPath* path = _null;
    if (GdipCreatePath(FillModeAlternate, &path) != Ok) return 0.0f;
    RectF layout(0, 0, 0, 0);
    RectF bounds(0, 0, 0, 0);
    if (GdipAddPathString(path, SystemText(text), -1, font->family, FontStyleRegular, font->pixelSize, &layout, font->format) != Ok ||
        GdipGetPathWorldBounds(path, &bounds, _null, _null) != Ok)
        bounds.Width = 0;
    GdipDeletePath(path);
    return bounds.Width > 0 ? bounds.Width : 0.0f;
}

void CanvasDrawText(GraphicsCanvas* canvas, GraphicsFont* font, const WideChar* text, double x, double y, double width,
                    double height, GraphicsAlign horizontal, GraphicsAlign vertical, uint32_t colour) {
    if (canvas == _null || font == _null || font->font == _null || text == _null || text[0] == 0) return;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height)) return;
    // A rectangle without width or height is unbounded that way: GDI+ reads a size of 0 so, and
    // places the text around the edge by the alignment. Far beyond the canvas nothing can show.
    constexpr double kFar = 4.0e6;
    if (std::fabs(x) > kFar || std::fabs(y) > kFar) return;
    RectF layout(float(x), float(y), float(width > 0 ? std::fmin(width, kFar) : 0), float(height > 0 ? std::fmin(height, kFar) : 0));
    GdipSetStringFormatAlign(font->format, ToAlignment(horizontal));
    GdipSetStringFormatLineAlign(font->format, ToAlignment(vertical));
    GdipSetSolidFillColor(canvas->brush, colour);
    GdipDrawString(canvas->graphics, SystemText(text), -1, font->font, &layout, font->format, canvas->brush);
}

// ------------------------------------------------------------------------------------------------
// Images

namespace {

bool IsGif(const uint8_t* bytes, uint32_t size) {
    return size >= 6 && (std::memcmp(bytes, "GIF87a", 6) == 0 || std::memcmp(bytes, "GIF89a", 6) == 0);
}

bool IsKnownImage(const uint8_t* bytes, uint32_t size) {
    if (size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) return true;
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return true;
    if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return true;
    return IsGif(bytes, size);
}

// The selected frame of a decoded image, converted to premultiplied ARGB.
bool CopyFrame(GpImage* decoded, int32_t width, int32_t height, std::vector<uint32_t>& out) {
    out.assign(size_t(width) * size_t(height), 0);
    GpRect rect(0, 0, width, height);
    BitmapData data = {};
    data.Width = UINT(width);
    data.Height = UINT(height);
    data.Stride = width * 4;
    data.PixelFormat = PixelFormat32bppPARGB;
    data.Scan0 = out.data();
    // Locking into our own buffer lets GDI+ convert straight into it.
    if (GdipBitmapLockBits(static_cast<GpBitmap*>(decoded), &rect, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppPARGB,
                           &data) != Ok)
        return false;
    GdipBitmapUnlockBits(static_cast<GpBitmap*>(decoded), &data);
    return true;
}

// The GIF's delays from the frame-delay property, one per frame (0 where it has none).
void ReadFrameDelays(GpImage* decoded, uint32_t frameCount, std::vector<uint32_t>& delays) {
    delays.assign(frameCount, 0);
    UINT size = 0;
    if (GdipGetPropertyItemSize(decoded, kFrameDelayProperty, &size) != Ok || size < sizeof(PropertyItem)) return;
    std::vector<uint8_t> storage(size);
    PropertyItem* item = reinterpret_cast<PropertyItem*>(storage.data());
    if (GdipGetPropertyItem(decoded, kFrameDelayProperty, size, item) != Ok || item->value == _null) return;
    uint32_t count = std::min<uint32_t>(item->length / 4, frameCount);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t delay;
        std::memcpy(&delay, static_cast<const uint8_t*>(item->value) + i * 4, 4);
        delays[i] = delay;
    }
}

void DecodeInto(GpImage* decoded, bool gif, GraphicsImage* image) {
    UINT width = 0, height = 0;
    GdipGetImageWidth(decoded, &width);
    GdipGetImageHeight(decoded, &height);
    if (width == 0 || height == 0 || int64_t(width) * int64_t(height) > kMaxImagePixels) return;
    UINT frameCount = 1;
    GUID timeDimension = FrameDimensionTime;
    if (gif && (GdipImageGetFrameCount(decoded, &timeDimension, &frameCount) != Ok || frameCount == 0)) frameCount = 1;
    image->frames.resize(frameCount);
    for (UINT i = 0; i < frameCount; ++i) {
        if ((frameCount > 1 && GdipImageSelectActiveFrame(decoded, &timeDimension, i) != Ok) ||
            !CopyFrame(decoded, int32_t(width), int32_t(height), image->frames[i])) {
            image->frames.resize(i);
            break;
        }
    }
    if (image->frames.empty()) return;
    image->width = int32_t(width);
    image->height = int32_t(height);
    if (gif) ReadFrameDelays(decoded, uint32_t(image->frames.size()), image->delays);
}

} // namespace

GraphicsImage* DecodeImage(const uint8_t* bytes, uint32_t size) {
    GraphicsImage* image = new (std::nothrow) GraphicsImage;
    if (image == _null || bytes == _null || size == 0 || !IsKnownImage(bytes, size)) return image;
    // GDI+ reads an image from its stream as it needs: every frame is copied out before the
    // stream goes, so the bytes need not outlive this call.
    IStream* stream = SHCreateMemStream(bytes, UINT(size));
    if (stream == _null) return image;
    GpBitmap* decoded = _null;
    if (GdipCreateBitmapFromStream(stream, &decoded) == Ok && decoded != _null) {
        DecodeInto(decoded, IsGif(bytes, size), image);
        GdipDisposeImage(decoded);
    }
    stream->Release();
    return image;
}

void DestroyImage(GraphicsImage* image) { delete image; }

int32_t ImageWidth(const GraphicsImage* image) { return image != _null ? image->width : 0; }
int32_t ImageHeight(const GraphicsImage* image) { return image != _null ? image->height : 0; }
int32_t ImageFrameCount(const GraphicsImage* image) { return image != _null ? int32_t(image->frames.size()) : 0; }

const uint32_t* ImageFrameDelays(const GraphicsImage* image) {
    return image != _null && !image->delays.empty() ? image->delays.data() : _null;
}

void SelectImageFrame(GraphicsImage* image, int32_t index) {
    if (image != _null && index >= 0 && index < int32_t(image->frames.size())) image->selected = index;
}

int32_t SelectedImageFrame(const GraphicsImage* image) { return image != _null ? image->selected : 0; }

uint32_t ImagePixel(const GraphicsImage* image, int32_t x, int32_t y) {
    if (image == _null || image->frames.empty()) return 0;
    const std::vector<uint32_t>& frame = image->frames[size_t(image->selected)];
    return PixelColourAt(reinterpret_cast<const uint8_t*>(frame.data()), image->width, image->height, image->width * 4, x, y);
}

// The source rectangle (0, 0, width, height) drawn unscaled at (x, y); where it reaches past the
// image, the wrap mode TileFlipXY repeats the image mirrored both ways.
void CanvasDrawImage(GraphicsCanvas* canvas, GraphicsImage* image, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (canvas == _null || image == _null || image->frames.empty() || width <= 0 || height <= 0) return;
    std::vector<uint32_t>& frame = image->frames[size_t(image->selected)];
    GpBitmap* bitmap = _null;
    if (GdipCreateBitmapFromScan0(image->width, image->height, image->width * 4, PixelFormat32bppPARGB,
                                  reinterpret_cast<BYTE*>(frame.data()), &bitmap) != Ok)
        return;
    GpImageAttributes* attributes = _null;
    if (GdipCreateImageAttributes(&attributes) == Ok) {
        GdipSetImageAttributesWrapMode(attributes, WrapModeTileFlipXY, 0, FALSE);
        GdipSetPixelOffsetMode(canvas->graphics, PixelOffsetModeHalf);
        GdipDrawImageRectRectI(canvas->graphics, bitmap, x, y, width, height, 0, 0, width, height, UnitPixel, attributes, _null, _null);
        GdipSetPixelOffsetMode(canvas->graphics, PixelOffsetModeDefault);
        GdipDisposeImageAttributes(attributes);
    }
    GdipDisposeImage(bitmap);
}

// GDI+ is the system's and the host's: nothing of ours to keep loaded.
void KeepGraphicsLibrariesLoaded() {}
