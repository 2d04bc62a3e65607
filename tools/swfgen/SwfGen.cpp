// vexal-swfgen ASSETS OUT: writes the loading movie. A compressed SWF (version 15) with a stage of
// 1920 x 1080 pixels at 24 frames per second and one frame, showing the same picture as the
// script-drawn loading screen: the background, two progress bars with their markers (overall
// progress below, progress within the stage above) and a status text on each bar. The pictures
// come from ASSETS (the loading screen's own images), the behaviour is ActionScript 1 byte code:
// the stage is aligned top left without scaling, and every frame (and on every resize) the movie
// reads the variable "VexalLoaderProgress" as a decimal number and lays itself out again.
#include <cairo.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "Avm1.h"
#include "SwfWriter.h"

namespace {

enum : uint16_t {
    kTagEnd = 0,
    kTagShowFrame = 1,
    kTagDefineShape = 2,
    kTagSetBackgroundColor = 9,
    kTagDoAction = 12,
    kTagDefineBitsJpeg2 = 21,
    kTagPlaceObject2 = 26,
    kTagDefineBitsLossless2 = 36,
    kTagDefineSprite = 39,
    kTagFileAttributes = 69,
};

constexpr int kTwips = 20;
constexpr int kStageWidth = 1920, kStageHeight = 1080;

struct Picture {
    const char* file;
    const char* name; // instance name stem
    int width = 0;
    int height = 0;
    uint16_t bitmapId = 0;
    uint16_t spriteId = 0;
};

bool ReadFile(const std::string& path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// DefineBitsLossless2 from a PNG: premultiplied alpha, red, green, blue bytes, zlib-packed.
bool LosslessBitmap(const std::string& path, uint16_t id, Picture& picture, SwfWriter& out) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return false;
    }
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    Bytes argb;
    argb.reserve(size_t(w) * h * 4);
    const uint8_t* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * cairo_image_surface_get_stride(s));
        for (int x = 0; x < w; ++x) {
            argb.push_back(uint8_t(row[x] >> 24));
            argb.push_back(uint8_t(row[x] >> 16));
            argb.push_back(uint8_t(row[x] >> 8));
            argb.push_back(uint8_t(row[x]));
        }
    }
    cairo_surface_destroy(s);
    uLongf packedSize = compressBound(uLong(argb.size()));
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, argb.data(), uLong(argb.size()), 9) != Z_OK) return false;
    packed.resize(packedSize);
    SwfWriter body;
    body.U16(id);
    body.U8(5);
    body.U16(uint32_t(w));
    body.U16(uint32_t(h));
    body.Raw(packed);
    WriteTag(out, kTagDefineBitsLossless2, body.Data(), true);
    picture.width = w;
    picture.height = h;
    picture.bitmapId = id;
    return true;
}

// The background: its JPEG bytes as they are (the file is named .png but holds a JPEG picture).
bool JpegBitmap(const std::string& path, uint16_t id, int width, int height, Picture& picture, SwfWriter& out) {
    Bytes jpeg;
    if (!ReadFile(path, jpeg) || jpeg.size() < 3 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    SwfWriter body;
    body.U16(id);
    body.Raw(jpeg);
    WriteTag(out, kTagDefineBitsJpeg2, body.Data(), true);
    picture.width = width;
    picture.height = height;
    picture.bitmapId = id;
    return true;
}

// A rectangle of the picture's size filled with the bitmap, unsmoothed, wrapped in a sprite so
// the script can move and stretch it.
void PictureSprite(uint16_t shapeId, uint16_t spriteId, Picture& picture, SwfWriter& out) {
    int w = picture.width * kTwips, h = picture.height * kTwips;
    SwfWriter shape;
    shape.U16(shapeId);
    WriteRect(shape, 0, w, 0, h);
    shape.U8(1);    // one fill style
    shape.U8(0x43); // clipped bitmap, not smoothed
    shape.U16(picture.bitmapId);
    WriteMatrix(shape, kTwips, kTwips, 0, 0);
    shape.U8(0);      // no line styles
    shape.Bits(1, 4); // fill index bits
    shape.Bits(0, 4); // line index bits
    // Move to (0, 0) with fill style 1, then the four edges clockwise.
    shape.Bits(0, 1);
    shape.Bits(0b00101, 5);
    shape.Bits(1, 5);
    shape.SignedBits(0, 1);
    shape.SignedBits(0, 1);
    shape.Bits(1, 1);
    int edges[4][2] = {{w, 0}, {0, h}, {-w, 0}, {0, -h}};
    for (auto& e : edges) {
        int bits = SignedBitsFor({e[0], e[1]});
        if (bits < 2) bits = 2;
        shape.Bits(1, 1);
        shape.Bits(1, 1);
        shape.Bits(uint32_t(bits - 2), 4);
        shape.Bits(1, 1);
        shape.SignedBits(e[0], bits);
        shape.SignedBits(e[1], bits);
    }
    shape.Bits(0, 6);
    WriteTag(out, kTagDefineShape, shape.Data(), true);

    SwfWriter sprite;
    sprite.U16(spriteId);
    sprite.U16(1);
    SwfWriter place;
    place.U8(0x02);
    place.U16(1);
    place.U16(shapeId);
    WriteTag(sprite, kTagPlaceObject2, place.Data());
    WriteTag(sprite, kTagShowFrame, {});
    WriteTag(sprite, kTagEnd, {});
    WriteTag(out, kTagDefineSprite, sprite.Data(), true);
    picture.spriteId = spriteId;
}

void PlaceNamed(uint16_t characterId, uint16_t depth, const std::string& name, SwfWriter& out) {
    SwfWriter place;
    place.U8(0x22); // has name, has character
    place.U16(depth);
    place.U16(characterId);
    place.Text(name);
    WriteTag(out, kTagPlaceObject2, place.Data());
}

Expr Root() { return Var("_root"); }
Expr Clip(const std::string& name) { return Mem(Root(), name); }

// Places a clip like the script's drawing helper: a position above or left of the stage becomes 0.
Block Place(const std::string& clip, Expr x, Expr y) {
    return {SetMem(Clip(clip), "_x", Max(x, Num(0))), SetMem(Clip(clip), "_y", Max(y, Num(0)))};
}

void Add(Block& to, const Block& from) { to.insert(to.end(), from.begin(), from.end()); }

struct Sizes {
    int bgW, bgH, markerW, markerH, leftW, rightW, trackH, bleftH, btrackH;
};

// One bar at (x, y) filled to the local p (0..1): the empty bar, the fill over it, the marker.
Block Bar(const std::string& prefix, const Sizes& s) {
    Expr x = Var("x0"), y = Var("y"), barWidth = Clip("barWidth");
    Block b = {Local("fill", Floor(Var("p") * barWidth))};
    Add(b, Place(prefix + "EmptyTrack", x + Num(s.leftW), y + Num(3)));
    b.push_back(SetMem(Clip(prefix + "EmptyTrack"), "_xscale", barWidth * Num(100)));
    b.push_back(SetMem(Clip(prefix + "EmptyTrack"), "_visible", barWidth > Num(0)));
    Add(b, Place(prefix + "EmptyLeft", x, y));
    Add(b, Place(prefix + "EmptyRight", x + Num(s.leftW) + barWidth, y));
    Add(b, Place(prefix + "FillTrack", x + Num(s.leftW), y + Num(3)));
    b.push_back(SetMem(Clip(prefix + "FillTrack"), "_xscale", Var("fill") * Num(100)));
    b.push_back(SetMem(Clip(prefix + "FillTrack"), "_visible", Var("fill") > Num(0)));
    Add(b, Place(prefix + "FillLeft", x, y));
    Add(b, Place(prefix + "Marker", x + Num(s.leftW) + Var("fill") - Num(s.markerW) + Num(80),
                 y + Floor(Num(s.trackH / 2.0 - s.markerH / 2.0))));
    return b;
}

// The status text centred on its bar, in the band (0, y - 1) to (W, y + trackH + 9).
Block Status(const std::string& field, Expr text, const Sizes& s) {
    Expr y = Var("y");
    return {
        SetMem(Clip(field), "_x", Num(0)),
        SetMem(Clip(field), "_y", y - Num(1)),
        SetMem(Clip(field), "_width", Max(Var("W"), Num(1))),
        SetMem(Clip(field), "_height", Num(s.trackH + 10)),
        SetMem(Clip(field), "text", text),
    };
}

// "%.1f%%" of value * 100.
Expr Percent(Expr value) {
    Expr tenths = Round(value * Num(1000));
    return Floor(tenths / Num(10)) + Str(".") + (tenths % Num(10)) + Str("%");
}

Expr Texts(std::initializer_list<const char*> texts) {
    std::vector<Expr> items;
    for (const char* t : texts) items.push_back(Str(t));
    return ArrayOf(items);
}

Block Script(const Sizes& s) {
    Block layout = {
        Local("W", Mem(Var("Stage"), "width")),
        Local("H", Mem(Var("Stage"), "height")),
    };
    Add(layout, Place("background", Floor((Var("W") - Num(s.bgW)) / Num(2)), Floor((Var("H") - Num(s.bgH)) / Num(2))));
    layout.push_back(Local("p", ToNumber(Clip("VexalLoaderProgress"))));
    // Not a number (the variable absent or unreadable) counts as 0.
    layout.push_back(If(!(Var("p") > Num(0)), {Local("p", Num(0))}));
    layout.push_back(If(Var("p") > Num(1), {Local("p", Num(1))}));
    layout.push_back(Local("p1", Max(Var("p"), Num(0.01))));
    layout.push_back(Local("stage", Ceil(Var("p1") * Num(5))));
    layout.push_back(Local("p2", Max((Var("p1") * Num(5)) % Num(1), Num(0.01))));
    layout.push_back(Local("x0", Floor((Var("W") - Clip("barWidth") - Num(s.leftW) - Num(s.rightW)) / Num(2))));
    layout.push_back(If(Var("x0") < Num(0), {
                                                Local("x0", Num(0)),
                                                SetMem(Root(), "barWidth", Max(Var("W") - Num(s.leftW) - Num(s.rightW), Num(0))),
                                            }));
    layout.push_back(Local("yLow", Max(Num(0), Var("H") - Num(s.bgH) + Num(976) - Num(s.bleftH))));
    layout.push_back(Local("y", Var("yLow")));
    layout.push_back(Local("p", Var("p1")));
    Add(layout, Bar("low", s));
    Add(layout, Status("lowText", Index(Clip("stages"), Var("stage") - Num(1)) + Str(" ") + Percent(Var("p1")), s));
    layout.push_back(Local("y", Max(Num(0), Var("yLow") - Num(50))));
    layout.push_back(Local("p", Var("p2")));
    layout.push_back(Local("group", Index(Clip("details"), Var("stage") - Num(1))));
    Add(layout, Bar("up", s));
    Add(layout, Status("upText",
                       Index(Var("group"), Ceil(Var("p2") * Mem(Var("group"), "length")) - Num(1)) + Str(" ") +
                           Percent(Var("p2")),
                       s));

    Block main = {
        SetMem(Var("Stage"), "scaleMode", Str("noScale")),
        SetMem(Var("Stage"), "align", Str("TL")),
        SetMem(Root(), "stages", Texts({"Loading scene resources...", "Loading texture resources...", "Loading effect resources...", "Loading model resources...", "Entering the game..."})),
        SetMem(Root(), "details", ArrayOf({
                                      Texts({"Loading scene models...", "Loading scene textures...", "Loading scene effects...", "Loading scene animations...", "Loading scene sounds...", "Loading scene cameras...", "Loading scene surfaces...", "Loading scene environment..."}),
                                      Texts({"Loading pet textures...", "Loading hero textures...", "Loading non-player character textures...", "Loading monster textures...", "Loading fine textures...", "Loading bump textures..."}),
                                      Texts({"Loading character effects...", "Loading interface effects...", "Loading particle effects...", "Loading non-player character effects...", "Loading monster effects..."}),
                                      Texts({"Loading mount models...", "Loading mount textures...", "Loading mount effects...", "Loading mount animations...", "Loading mount cameras..."}),
                                      Texts({"Optimising details...", "Loading player information..."}),
                                  })),
        SetMem(Root(), "barWidth", Num(1038)),
        SetMem(Root(), "statusFormat", New("TextFormat", {})),
        SetMem(Clip("statusFormat"), "font", Str("_sans")),
        SetMem(Clip("statusFormat"), "size", Num(14)),
        SetMem(Clip("statusFormat"), "color", Num(0xFFFFFF)),
        SetMem(Clip("statusFormat"), "align", Str("center")),
    };
    // Text fields stacked like the drawing order: the lower text over the lower bar, under the upper one.
    for (auto [field, depth] : {std::pair<const char*, int>{"lowText", 8}, {"upText", 15}}) {
        main.push_back(Do(CallMethod(Root(), "createTextField",
                                     {Str(field), Num(depth), Num(0), Num(0), Num(100), Num(s.trackH + 10)})));
        main.push_back(SetMem(Clip(field), "selectable", Num(0)));
        main.push_back(Do(CallMethod(Clip(field), "setNewTextFormat", {Clip("statusFormat")})));
    }
    main.push_back(SetMem(Root(), "layout", Function(layout)));
    main.push_back(SetMem(Root(), "onEnterFrame", Clip("layout")));
    main.push_back(SetMem(Root(), "resizeListener", New("Object", {})));
    main.push_back(SetMem(Clip("resizeListener"), "onResize", Clip("layout")));
    main.push_back(Do(CallMethod(Var("Stage"), "addListener", {Clip("resizeListener")})));
    main.push_back(Do(CallMethod(Root(), "layout", {})));
    return main;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: vexal-swfgen ASSETS OUT\n  writes the loading movie made from the pictures in ASSETS to OUT\n");
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: vexal-swfgen ASSETS OUT\n");
        return 2;
    }
    std::string assets = argv[1];
    Picture background{"bg.png", "background"};
    Picture pictures[] = {
        {"btrack.png", "EmptyTrack"},
        {"bleft.png", "EmptyLeft"},
        {"bright.png", "EmptyRight"},
        {"track.png", "FillTrack"},
        {"left.png", "FillLeft"},
        {"front.png", "Marker"},
    };
    Picture fillRight{"right.png", "FillRight"};

    SwfWriter tags;
    SwfWriter attributes;
    attributes.U32(0); // ActionScript 1 and 2, no network access needed
    WriteTag(tags, kTagFileAttributes, attributes.Data());
    WriteTag(tags, kTagSetBackgroundColor, {0x40, 0x40, 0x40});
    bool ok = JpegBitmap(assets + "/bg.png", 1, 1920, 1080, background, tags);
    uint16_t id = 2;
    for (Picture& p : pictures) ok = ok && LosslessBitmap(assets + "/" + p.file, id++, p, tags);
    // Only its width is used (the bars are centred as if the fill had a right cap).
    ok = ok && LosslessBitmap(assets + "/" + fillRight.file, id++, fillRight, tags);
    if (!ok) {
        std::fprintf(stderr, "vexal-swfgen: the pictures in %s cannot be read\n", assets.c_str());
        return 1;
    }
    PictureSprite(20, 30, background, tags);
    uint16_t shapeId = 21, spriteId = 31;
    for (Picture& p : pictures) PictureSprite(shapeId++, spriteId++, p, tags);

    PlaceNamed(background.spriteId, 1, background.name, tags);
    uint16_t depth = 2;
    for (const char* prefix : {"low", "up"}) {
        for (Picture& p : pictures) PlaceNamed(p.spriteId, depth++, std::string(prefix) + p.name, tags);
        ++depth; // the bar's status text
    }
    Sizes sizes{background.width, background.height, pictures[5].width, pictures[5].height, pictures[4].width,
                fillRight.width, pictures[3].height, pictures[1].height, pictures[0].height};
    WriteTag(tags, kTagDoAction, Assemble(Script(sizes)), true);
    WriteTag(tags, kTagShowFrame, {});
    WriteTag(tags, kTagEnd, {});

    SwfWriter body;
    WriteRect(body, 0, kStageWidth * kTwips, 0, kStageHeight * kTwips);
    body.U16(24 << 8); // 24.0 frames per second, 8.8 fixed point
    body.U16(1);
    body.Raw(tags.Data());
    const Bytes& plain = body.Data();

    uLongf packedSize = compressBound(uLong(plain.size()));
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, plain.data(), uLong(plain.size()), 9) != Z_OK) return 1;
    packed.resize(packedSize);
    SwfWriter file;
    file.Raw(reinterpret_cast<const uint8_t*>("CWS"), 3);
    file.U8(15);
    file.U32(uint32_t(8 + plain.size()));
    file.Raw(packed);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.Data().data()), std::streamsize(file.Data().size()));
    if (!out) {
        std::fprintf(stderr, "vexal-swfgen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
