#include "graph/grafutil.h"
#include "graph/grafgate.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include <gd.h>
#include <gdfonts.h>


namespace {

struct gd_image_deleter {
    void operator()(gdImagePtr im) const {
        if (im) gdImageDestroy(im);
    }
};
using gd_image = std::unique_ptr<gdImage, gd_image_deleter>;

struct gd_freer {
    void operator()(void* p) const { gdFree(p); }
};
using gd_bytes = std::unique_ptr<void, gd_freer>;

constexpr int WIDTH = 500;
constexpr int HEIGHT = 150;
constexpr int PLOT_LEFT = 50;
constexpr int PLOT_TOP = 25;
constexpr int PLOT_RIGHT = 450;   // column of plot x 0
constexpr int PLOT_BOTTOM = 125;  // row of plot y 0
constexpr int FRAME_BOTTOM = 126;
constexpr int MAX_X = 399;
constexpr int MAX_Y = 99;
constexpr int LEFT_TEXT_END = 46;
constexpr int RIGHT_TEXT_START = 454;
constexpr int DATE_END = 446;
constexpr int DATE_TOP = 129;

gdImagePtr image_of(void* handle) { return static_cast<gdImagePtr>(handle); }

// gd's small font is static and never written, so every thread may share it.
gdFontPtr font() { return gdFontSmall; }

// Unsigned arithmetic keeps odd channel values from overflowing; the caller
// passes 0..255 and gets r * 65536 + g * 256 + b, fully opaque.
int colour(int r, int g, int b) {
    return static_cast<int>(static_cast<unsigned>(r) * 65536u + static_cast<unsigned>(g) * 256u +
                            static_cast<unsigned>(b));
}

int clamp(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

long long text_width(const char* s) { return static_cast<long long>(std::strlen(s)) * font()->w; }

// Characters that lie wholly left of the canvas are invisible; dropping them
// keeps the start column within int however long the text is.
void draw_text(gdImagePtr im, long long x, int y, const char* s, int c) {
    const int w = font()->w;
    while (*s && x + w <= 0) {
        ++s;
        x += w;
    }
    if (!*s || x >= WIDTH) return;
    gdImageString(im, font(), static_cast<int>(x), y, reinterpret_cast<unsigned char*>(const_cast<char*>(s)), c);
}

void draw_left(gdImagePtr im, int y, const char* s, int c) { draw_text(im, LEFT_TEXT_END - text_width(s), y, s, c); }

void draw_right(gdImagePtr im, int y, const char* s, int c) { draw_text(im, RIGHT_TEXT_START, y, s, c); }

// The rows of a label pair; a missing text leaves its partner at the edge or
// in the middle of the plot instead of beside an empty line.
struct label_rows {
    int a, b;
};

label_rows rows_top(bool has_a, bool) {
    const int h = font()->h;
    return {PLOT_TOP, has_a ? h + 28 : PLOT_TOP};
}

label_rows rows_center(bool has_a, bool has_b) {
    const int h = font()->h;
    return {has_b ? 74 - h : 75 - h / 2, has_a ? 76 : 75 - h / 2};
}

label_rows rows_bottom(bool, bool has_b) {
    const int h = font()->h;
    return {has_b ? 122 - 2 * h : PLOT_BOTTOM - h, PLOT_BOTTOM - h};
}

using draw_fn = void (*)(gdImagePtr, int, const char*, int);
using rows_fn = label_rows (*)(bool, bool);

void label(void* handle, const char* atext, const char* btext, int r, int g, int b, draw_fn draw, rows_fn rows) {
    gdImagePtr im = image_of(handle);
    if (!im) return;
    label_rows at = rows(atext != nullptr, btext != nullptr);
    int c = colour(r, g, b);
    if (atext) draw(im, at.a, atext, c);
    if (btext) draw(im, at.b, btext, c);
}

}  // namespace

void* grafutil_createimage() {
    grafgate_enter();
    gd_image im(gdImageCreateTrueColor(WIDTH, HEIGHT));
    if (!im) {
        std::perror("Could not create graph image");
        grafgate_leave();
        return nullptr;
    }
    gdImageFilledRectangle(im.get(), 0, 0, WIDTH - 1, HEIGHT - 1, colour(248, 248, 248));
    gdImageFilledRectangle(im.get(), PLOT_LEFT, PLOT_TOP, PLOT_RIGHT, PLOT_BOTTOM, colour(255, 255, 255));
    return im.release();
}

void grafutil_drawbar(void* imageHandler, int x, int y, int r, int g, int b) {
    gdImagePtr im = image_of(imageHandler);
    if (!im) return;
    x = clamp(x, MAX_X);
    y = clamp(y, MAX_Y);
    gdImageLine(im, PLOT_RIGHT - x, PLOT_BOTTOM, PLOT_RIGHT - x, PLOT_BOTTOM - y, colour(r, g, b));
}

void grafutil_drawhline(void* imageHandler, int y, int r, int g, int b) {
    gdImagePtr im = image_of(imageHandler);
    if (!im) return;
    y = clamp(y, MAX_Y);
    gdImageLine(im, PLOT_LEFT, PLOT_BOTTOM - y, PLOT_RIGHT - 1, PLOT_BOTTOM - y, colour(r, g, b));
}

void grafutil_drawsegmentline(void* imageHandler, int x1, int y1, int x2, int y2, int r, int g, int b) {
    gdImagePtr im = image_of(imageHandler);
    if (!im) return;
    x1 = clamp(x1, MAX_X);
    x2 = clamp(x2, MAX_X);
    y1 = clamp(y1, MAX_Y);
    y2 = clamp(y2, MAX_Y);
    gdImageLine(im, PLOT_RIGHT - x1, PLOT_BOTTOM - y1, PLOT_RIGHT - x2, PLOT_BOTTOM - y2, colour(r, g, b));
}

void grafutil_gitter(void* i) {
    gdImagePtr im = image_of(i);
    if (!im) return;
    const int grey = colour(128, 128, 128);
    for (int c = 2; c <= 396; c += 2)
        for (int row : {50, 75, 100}) gdImageSetPixel(im, PLOT_LEFT + c, row, grey);
    for (int c = 10; c <= 390; c += 10)
        for (int row = 27; row <= 123; row += 2) gdImageSetPixel(im, PLOT_LEFT + c, row, grey);
}

void grafutil_title(void* imageHandler, const char* title) {
    gdImagePtr im = image_of(imageHandler);
    if (!im || !title) return;
    draw_text(im, 250 - text_width(title) / 2, 12 - font()->h / 2, title, colour(0, 0, 0));
}

void grafutil_textlefttop(void* i, const char* atext, const char* btext, int r, int g, int b) {
    label(i, atext, btext, r, g, b, draw_left, rows_top);
}

void grafutil_textleftcenter(void* i, const char* atext, const char* btext, int r, int g, int b) {
    label(i, atext, btext, r, g, b, draw_left, rows_center);
}

void grafutil_textleftbottom(void* i, const char* atext, const char* btext, int r, int g, int b) {
    label(i, atext, btext, r, g, b, draw_left, rows_bottom);
}

void grafutil_textrighttop(void* i, const char* atext, const char* btext, int r, int g, int b) {
    label(i, atext, btext, r, g, b, draw_right, rows_top);
}

void grafutil_textrightcenter(void* i, const char* atext, const char* btext, int r, int g, int b) {
    label(i, atext, btext, r, g, b, draw_right, rows_center);
}

void grafutil_textrightbottom(void* i, const char* atext, const char* btext, int r, int g, int b) {
    label(i, atext, btext, r, g, b, draw_right, rows_bottom);
}

void grafutil_dateonrightbottom(void* imageHandler) {
    gdImagePtr im = image_of(imageHandler);
    if (!im) return;
    std::time_t now = std::time(nullptr);
    std::tm local;
    // Several connection threads stamp dates at once; each needs its own tm.
    if (!localtime_r(&now, &local)) return;
    char date[80];
    if (std::strftime(date, 70, "%d.%m.%Y %H:%M:%S", &local) == 0) return;
    draw_text(im, DATE_END - text_width(date), DATE_TOP, date, colour(0, 0, 0));
}

void grafutil_finish(void* imageHandler, FILE* out) {
    gd_image im(image_of(imageHandler));
    // The PNG is made in memory so that the drawing turn ends before the
    // client is written to. An image that could not be created leaves the
    // answer with its header and an empty body.
    gd_bytes png;
    int size = 0;
    if (im) {
        gdImageRectangle(im.get(), PLOT_LEFT, PLOT_TOP, PLOT_RIGHT, FRAME_BOTTOM, colour(0, 0, 0));
        if (out) png.reset(gdImagePngPtr(im.get(), &size));
    }
    im.reset();
    grafgate_leave();
    if (out && png && size > 0) std::fwrite(png.get(), 1, static_cast<size_t>(size), out);
    if (out) std::fflush(out);
}

void grafutil_complete(void* image, FILE* out, const char* what, int ring, const char* name,
                       const grafutil_label (&labels)[6]) {
    using corner_fn = void (*)(void*, const char*, const char*, int, int, int);
    static constexpr corner_fn AT[6] = {grafutil_textlefttop,  grafutil_textleftcenter,  grafutil_textleftbottom,
                                        grafutil_textrighttop, grafutil_textrightcenter, grafutil_textrightbottom};
    grafutil_gitter(image);
    char title[200];
    if (name)
        std::snprintf(title, sizeof title, "%s last %d seconds (%s)", what, grafutil_span_seconds(ring), name);
    else
        std::snprintf(title, sizeof title, "%s last %d seconds", what, grafutil_span_seconds(ring));
    grafutil_title(image, title);
    for (int i = 0; i < 6; ++i) AT[i](image, labels[i].atext, labels[i].btext, labels[i].r, labels[i].g, labels[i].b);
    grafutil_dateonrightbottom(image);
    grafutil_finish(image, out);
}

grafutil_byte_labels::grafutil_byte_labels(const grafutil_corner_text (&corners)[6]) {
    for (int i = 0; i < 6; ++i) {
        const grafutil_corner_text& c = corners[i];
        bytetext_format(bytes[i], sizeof bytes[i], c.bytes);
        const bool bottom = i % 3 == 2;
        labels[i] = {bottom ? bytes[i] : c.label, bottom ? c.label : bytes[i], c.r, c.g, c.b};
    }
}

int grafutil_height(double value, double multi) {
    if (!(multi > 0.0)) return 0;
    double h = value / multi;
    if (!(h > 0.0)) return 0;  // also NaN
    if (h > 100.0) return 100;
    return static_cast<int>(h);
}
