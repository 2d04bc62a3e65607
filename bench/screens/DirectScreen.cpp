// The benchmark's peer: the default loading screen drawn straight with Cairo and Pango.
#include "DirectScreen.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

struct DirectScreenState {
    Display* display = nullptr;
    Window window = 0;
    int width = 0, height = 0;
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    GC gc = nullptr;
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    PangoLayout* layout = nullptr;
    cairo_surface_t *bg = nullptr, *front = nullptr, *left = nullptr, *track = nullptr, *bleft = nullptr,
                    *bright = nullptr, *btrack = nullptr;
    bool valid = false;
};

namespace {

cairo_surface_t* LoadPicture(const std::string& path) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    if (!pixbuf) return nullptr;
    int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf), n = gdk_pixbuf_get_n_channels(pixbuf);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    const guchar* in = gdk_pixbuf_read_pixels(pixbuf);
    for (int y = 0; y < h; ++y) {
        uint32_t* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface) +
                                                    y * cairo_image_surface_get_stride(surface));
        const guchar* p = in + y * gdk_pixbuf_get_rowstride(pixbuf);
        for (int x = 0; x < w; ++x, p += n) {
            uint32_t a = n == 4 ? p[3] : 255;
            out[x] = a << 24 | ((p[0] * a + 127) / 255) << 16 | ((p[1] * a + 127) / 255) << 8 | (p[2] * a + 127) / 255;
        }
    }
    cairo_surface_mark_dirty(surface);
    g_object_unref(pixbuf);
    return surface;
}

void Blit(cairo_t* cr, cairo_surface_t* picture, int x, int y, int w, int h) {
    if (x < 0) {
        w += x;
        x = 0;
    }
    if (y < 0) {
        h += y;
        y = 0;
    }
    if (w <= 0 || h <= 0) return;
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(picture);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
    if (w > cairo_image_surface_get_width(picture) || h > cairo_image_surface_get_height(picture))
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REFLECT);
    cairo_matrix_t matrix;
    cairo_matrix_init_translate(&matrix, -x, -y);
    cairo_pattern_set_matrix(pattern, &matrix);
    cairo_set_source(cr, pattern);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    cairo_pattern_destroy(pattern);
}

void Bar(DirectScreenState* s, int x, int y, double p) {
    int fill = int(std::floor(p * 1038));
    Blit(s->cr, s->btrack, x + 48, y + 3, 1038, 11);
    Blit(s->cr, s->bleft, x, y, 48, 18);
    Blit(s->cr, s->bright, x + 48 + 1038, y, 47, 13);
    Blit(s->cr, s->track, x + 48, y + 3, fill, 11);
    Blit(s->cr, s->left, x, y, 48, 18);
    Blit(s->cr, s->front, x + 48 + fill - 118 + 80, y + 5 - 47, 118, 94);
}

void Text(DirectScreenState* s, int y, const char* text) {
    pango_layout_set_text(s->layout, text, -1);
    int w, h;
    pango_layout_get_pixel_size(s->layout, &w, &h);
    cairo_save(s->cr);
    cairo_rectangle(s->cr, 0, y - 1, s->width, 21);
    cairo_clip(s->cr);
    cairo_set_source_rgb(s->cr, 1, 1, 1);
    cairo_move_to(s->cr, (s->width - w) / 2.0, y - 1 + (21 - h) / 2.0);
    pango_cairo_show_layout(s->cr, s->layout);
    cairo_restore(s->cr);
}

} // namespace

DirectScreen::DirectScreen(Display* display, Window window, int width, int height, const char* assets)
    : mState(new DirectScreenState) {
    DirectScreenState* s = mState;
    s->display = display;
    s->window = window;
    s->width = width;
    s->height = height;
    std::string folder = assets;
    s->bg = LoadPicture(folder + "/bg.png");
    s->front = LoadPicture(folder + "/front.png");
    s->left = LoadPicture(folder + "/left.png");
    s->track = LoadPicture(folder + "/track.png");
    s->bleft = LoadPicture(folder + "/bleft.png");
    s->bright = LoadPicture(folder + "/bright.png");
    s->btrack = LoadPicture(folder + "/btrack.png");
    if (!s->bg || !s->front || !s->left || !s->track || !s->bleft || !s->bright || !s->btrack) return;
    int screen = DefaultScreen(display);
    s->image = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
                               nullptr, &s->shm, unsigned(width), unsigned(height));
    if (!s->image) return;
    s->shm.shmid = shmget(IPC_PRIVATE, size_t(s->image->bytes_per_line) * height, IPC_CREAT | 0600);
    s->shm.shmaddr = s->image->data = static_cast<char*>(shmat(s->shm.shmid, nullptr, 0));
    shmctl(s->shm.shmid, IPC_RMID, nullptr);
    s->shm.readOnly = False;
    if (!XShmAttach(display, &s->shm)) return;
    XSync(display, False);
    s->gc = XCreateGC(display, window, 0, nullptr);
    s->surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(s->image->data),
                                                     CAIRO_FORMAT_ARGB32, width, height, s->image->bytes_per_line);
    s->cr = cairo_create(s->surface);
    cairo_set_antialias(s->cr, CAIRO_ANTIALIAS_NONE);
    s->layout = pango_cairo_create_layout(s->cr);
    PangoFontDescription* font = pango_font_description_from_string("sans-serif");
    pango_font_description_set_absolute_size(font, 14 * PANGO_SCALE);
    pango_layout_set_font_description(s->layout, font);
    pango_font_description_free(font);
    s->valid = true;
}

DirectScreen::~DirectScreen() {
    DirectScreenState* s = mState;
    if (s->layout) g_object_unref(s->layout);
    if (s->cr) cairo_destroy(s->cr);
    if (s->surface) cairo_surface_destroy(s->surface);
    for (cairo_surface_t* p : {s->bg, s->front, s->left, s->track, s->bleft, s->bright, s->btrack})
        if (p) cairo_surface_destroy(p);
    if (s->gc) XFreeGC(s->display, s->gc);
    if (s->image) {
        XShmDetach(s->display, &s->shm);
        XSync(s->display, False);
        shmdt(s->shm.shmaddr);
        s->image->data = nullptr;
        XDestroyImage(s->image);
    }
    delete s;
}

bool DirectScreen::IsValid() const { return mState->valid; }

void DirectScreen::Draw(double progress) {
    DirectScreenState* s = mState;
    cairo_set_operator(s->cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgb(s->cr, 0, 0, 0);
    cairo_paint(s->cr);
    cairo_set_operator(s->cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_rgb(s->cr, 0.25, 0.25, 0.25);
    cairo_rectangle(s->cr, 0, 0, s->width, s->height);
    cairo_fill(s->cr);
    Blit(s->cr, s->bg, (s->width - 1920) / 2, (s->height - 1080) / 2, 1920, 1080);
    double p1 = std::max(progress, 0.01);
    double p2 = std::max(std::fmod(p1 * 5, 1.0), 0.01);
    int x0 = (s->width - 1038 - 95) / 2;
    int yLow = std::max(0, s->height - 1080 + 976 - 18), yUp = std::max(0, yLow - 50);
    char text[64];
    Bar(s, x0, yLow, p1);
    std::snprintf(text, sizeof text, "Loading texture resources... %.1f%%", p1 * 100);
    Text(s, yLow, text);
    Bar(s, x0, yUp, p2);
    std::snprintf(text, sizeof text, "Loading hero textures... %.1f%%", p2 * 100);
    Text(s, yUp, text);
    cairo_surface_flush(s->surface);
}

void DirectScreen::Present() {
    DirectScreenState* s = mState;
    XShmPutImage(s->display, s->window, s->gc, s->image, 0, 0, 0, 0, unsigned(s->width), unsigned(s->height), False);
    XSync(s->display, False);
}
