// Drawing on Windows until the GDI+ layer is in: no canvas, font or image can be made, so every
// drawing call is the documented no-op of a null object and the loader runs headless.
#include "Source/Platform/Graphics.h"

void KeepGraphicsLibrariesLoaded() {}

GraphicsCanvas* CreateCanvasOnPixels(uint8_t*, int32_t, int32_t, int32_t) { return _null; }
GraphicsCanvas* CreateCanvas(int32_t, int32_t) { return _null; }
void DestroyCanvas(GraphicsCanvas*) {}
int32_t CanvasWidth(const GraphicsCanvas*) { return 0; }
int32_t CanvasHeight(const GraphicsCanvas*) { return 0; }
const uint8_t* CanvasPixels(GraphicsCanvas*, int32_t* stride) {
    if (stride != _null)
        *stride = 0;
    return _null;
}
uint32_t CanvasPixel(GraphicsCanvas*, int32_t, int32_t) { return 0; }
void CanvasClear(GraphicsCanvas*, uint32_t) {}
void CanvasFillRect(GraphicsCanvas*, int32_t, int32_t, int32_t, int32_t, uint32_t) {}
void CanvasDrawRect(GraphicsCanvas*, int32_t, int32_t, int32_t, int32_t, uint32_t) {}
void CanvasDrawLine(GraphicsCanvas*, int32_t, int32_t, int32_t, int32_t, uint32_t) {}

GraphicsFont* CreateFont(const WideChar*, float) { return _null; }
void DestroyFont(GraphicsFont*) {}
float FontLineSpacing(GraphicsFont*) { return 0.0f; }
float TextInkWidth(GraphicsFont*, const WideChar*) { return 0.0f; }
void CanvasDrawText(GraphicsCanvas*, GraphicsFont*, const WideChar*, double, double, double, double, GraphicsAlign,
                    GraphicsAlign, uint32_t) {}

GraphicsImage* DecodeImage(const uint8_t*, uint32_t) { return _null; }
void DestroyImage(GraphicsImage*) {}
int32_t ImageWidth(const GraphicsImage*) { return 0; }
int32_t ImageHeight(const GraphicsImage*) { return 0; }
int32_t ImageFrameCount(const GraphicsImage*) { return 0; }
const uint32_t* ImageFrameDelays(const GraphicsImage*) { return _null; }
void SelectImageFrame(GraphicsImage*, int32_t) {}
int32_t SelectedImageFrame(const GraphicsImage*) { return 0; }
uint32_t ImagePixel(const GraphicsImage*, int32_t, int32_t) { return 0; }
void CanvasDrawImage(GraphicsCanvas*, GraphicsImage*, int32_t, int32_t, int32_t, int32_t) {}
