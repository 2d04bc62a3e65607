// The engine's 2D drawing layer: canvases of ARGB32 pixels, solid shapes, fonts and text, decoded
// images with animation frames. The loading screen draws through it and nothing else.
#pragma once

#include "Common/Types.h"

// Colours are 0xAARRGGBB, not premultiplied, composited over what is already there.
// Pixels in memory are 32-bit premultiplied ARGB words in native byte order (B, G, R, A on
// little-endian machines), rows `stride` bytes apart.
// Every operation runs on the calling thread only and takes no lock; objects are not shared
// between threads. A null object makes every operation a no-op returning 0 or false.

struct GraphicsCanvas;
struct GraphicsFont;
struct GraphicsImage;

// Horizontal and vertical placement of text inside its layout rectangle.
enum GraphicsAlign : int32_t {
    kGraphicsAlignNear = 0, // left / top
    kGraphicsAlignCenter = 1,
    kGraphicsAlignFar = 2, // right / bottom
};

// Makes the drawing libraries this library brought into the process stay there for good. Their
// type registry cannot be set up twice in one process: after an unload with them, the next load
// of this library would hang in its first font map. Called when the library is attached.
void KeepGraphicsLibrariesLoaded();

// A canvas drawing into pixels owned by the caller (for example a window's present image). The
// pixels must stay valid and must not move until DestroyCanvas. Null for a size of 0 or below,
// missing pixels or a stride too small for the width.
GraphicsCanvas* CreateCanvasOnPixels(uint8_t* pixels, int32_t width, int32_t height, int32_t stride);
// A canvas with its own pixels, all 0 (transparent black). Null for a size of 0 or below or when
// the memory cannot be had.
GraphicsCanvas* CreateCanvas(int32_t width, int32_t height);
// Frees the canvas (and its own pixels; caller-owned pixels stay). Null is ignored.
void DestroyCanvas(GraphicsCanvas* canvas);
int32_t CanvasWidth(const GraphicsCanvas* canvas);
int32_t CanvasHeight(const GraphicsCanvas* canvas);
// The pixels after every drawing call so far has reached them; stride receives the row distance.
// Owned by the canvas or by whoever gave them.
const uint8_t* CanvasPixels(GraphicsCanvas* canvas, int32_t* stride);
// The colour of one pixel as 0xAARRGGBB (un-premultiplied); 0 outside the canvas.
uint32_t CanvasPixel(GraphicsCanvas* canvas, int32_t x, int32_t y);

// Replaces every pixel with the colour, alpha included (no compositing).
void CanvasClear(GraphicsCanvas* canvas, uint32_t colour);
// Solid fill of the rectangle (x, y, width, height) on the pixel grid, without smoothing.
void CanvasFillRect(GraphicsCanvas* canvas, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour);
// Outline 1 pixel wide through the pixels of columns x..x+width and rows y..y+height (a pen of
// width 1.0 centred on the edges), without smoothing. Negative sizes draw nothing.
void CanvasDrawRect(GraphicsCanvas* canvas, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour);
// Line 1 pixel wide from (x1, y1) to (x2, y2), both end pixels included, without smoothing.
void CanvasDrawLine(GraphicsCanvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);

// A regular font of the family at an em size in pixels. A family the system does not have falls
// back to the generic sans-serif family. Never null for a size above 0 (null otherwise); a font
// whose size is 0 or below measures and draws nothing.
GraphicsFont* CreateFont(const WideChar* family, float pixelSize);
void DestroyFont(GraphicsFont* font);
// Line spacing of the font in pixels (distance between the base lines of two lines of text), from
// the font's design metrics, not rounded to the pixel grid.
float FontLineSpacing(GraphicsFont* font);
// Width in pixels of the ink of the laid-out text (glyph outlines; leading and trailing blanks
// add nothing). 0 for an empty or all-blank text.
float TextInkWidth(GraphicsFont* font, const WideChar* text);
// Draws the text in the layout rectangle (x, y, width, height): lines wrap at the rectangle's
// width (at most about two million pixels), are placed by the two alignments and are clipped to
// the rectangle. A width or height of 0 or below leaves that direction unbounded; a rectangle
// with a NaN or infinite value draws nothing.
void CanvasDrawText(GraphicsCanvas* canvas, GraphicsFont* font, const WideChar* text, double x, double y,
                    double width, double height, GraphicsAlign horizontal, GraphicsAlign vertical,
                    uint32_t colour);

// Decodes PNG, JPEG, GIF or BMP bytes, recognised by content. Never null: bytes that do not decode
// give an empty image (width and height 0) that draws nothing. The bytes are not kept.
GraphicsImage* DecodeImage(const uint8_t* bytes, uint32_t size);
void DestroyImage(GraphicsImage* image);
int32_t ImageWidth(const GraphicsImage* image);
int32_t ImageHeight(const GraphicsImage* image);
// Number of frames (1 for a still image, 0 for an empty one).
int32_t ImageFrameCount(const GraphicsImage* image);
// Per-frame delays in hundredths of a second as the file states them (0 where it states none),
// ImageFrameCount entries; null when the format carries no delays (only GIF does).
const uint32_t* ImageFrameDelays(const GraphicsImage* image);
// Makes the frame the one drawn from now on; an index out of range is ignored.
void SelectImageFrame(GraphicsImage* image, int32_t index);
int32_t SelectedImageFrame(const GraphicsImage* image);
// The colour of one pixel of the selected frame as 0xAARRGGBB; 0 outside the image.
uint32_t ImagePixel(const GraphicsImage* image, int32_t x, int32_t y);
// Copies the top-left width x height pixels of the selected frame to (x, y), unscaled. Where that
// area reaches past the image, the image repeats mirrored in x and y (so a 1-pixel column
// stretches into a bar of any length).
void CanvasDrawImage(GraphicsCanvas* canvas, GraphicsImage* image, int32_t x, int32_t y, int32_t width,
                     int32_t height);
