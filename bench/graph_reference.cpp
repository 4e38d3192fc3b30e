// The floor under Kelp's load graph: the same 500 x 150 picture drawn with
// plain gd calls, nothing else, and encoded with the same gdImagePng into a
// stream. What Kelp spends per graph request beyond this is its own.
//
//   graph_reference -i KELP_PNG [-n DRAWS] [-o OUT_PNG]
//
// KELP_PNG is a /MOD_LOAD?grafinterval_1 answer from a running Kelp: the bar
// heights and the mean line are read back from its pixels, so that both
// programs draw and compress the same picture (only the digits of the labels
// and the date can differ). Prints the CPU time per draw and encode, the size
// of the PNG and how many pixels differ from Kelp's.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include <gd.h>
#include <gdfonts.h>

namespace {

constexpr int BARS = 400;

int rgb(int r, int g, int b) { return gdTrueColor(r, g, b); }

struct picture {
    int height[BARS];  // bar x (0 = newest, drawn at column 450) in pixels, 0..99
    int mean;          // row of the mean line above the baseline
};

// Column 450 - x holds bar x: its top is the highest green pixel between the
// rows 26 and 125. Grid dots and the mean line may hide a pixel or two; bar 0
// lies under the frame and is taken to equal bar 1.
picture read_back(gdImagePtr im) {
    picture p{};
    const int green = rgb(0, 255, 0), orange = rgb(255, 128, 0);
    for (int x = 1; x < BARS; ++x) {
        int col = 450 - x;
        for (int row = 26; row <= 125; ++row)
            if (gdImageGetTrueColorPixel(im, col, row) == green) {
                p.height[x] = 125 - row;
                break;
            }
    }
    p.height[0] = p.height[1];
    for (int row = 26; row <= 125; ++row)
        if (gdImageGetTrueColorPixel(im, 52, row) == orange) {
            p.mean = 125 - row;
            break;
        }
    return p;
}

void text(gdImagePtr im, int x, int y, const char* s, int c) {
    gdImageString(im, gdFontSmall, x, y, reinterpret_cast<unsigned char*>(const_cast<char*>(s)), c);
}

int width(const char* s) { return static_cast<int>(std::strlen(s)) * gdFontSmall->w; }

// One graph as Kelp draws it: background, plot area, bars, mean line, grid,
// title, the labels on both sides, the date and the frame.
gdImagePtr draw(const picture& p) {
    gdImagePtr im = gdImageCreateTrueColor(500, 150);
    if (!im) return nullptr;
    gdImageFilledRectangle(im, 0, 0, 499, 149, rgb(248, 248, 248));
    gdImageFilledRectangle(im, 50, 25, 450, 125, rgb(255, 255, 255));

    // The figures behind the labels, from the heights: the scale is such
    // that the tallest bar is 100.
    int top = 0;
    long sum = 0;
    for (int h : p.height) {
        if (h > top) top = h;
        sum += h;
    }
    const int green = rgb(0, 255, 0);
    for (int x = 0; x < BARS; ++x) gdImageLine(im, 450 - x, 125, 450 - x, 125 - p.height[x], green);
    gdImageLine(im, 50, 125 - p.mean, 449, 125 - p.mean, rgb(255, 128, 0));

    const int grey = rgb(128, 128, 128);
    for (int c = 2; c <= 396; c += 2)
        for (int row : {50, 75, 100}) gdImageSetPixel(im, 50 + c, row, grey);
    for (int c = 10; c <= 390; c += 10)
        for (int row = 27; row <= 123; row += 2) gdImageSetPixel(im, 50 + c, row, grey);

    const int h = gdFontSmall->h;
    const char* title = "System Load last 400 seconds";
    text(im, 250 - width(title) / 2, 12 - h / 2, title, rgb(0, 0, 0));

    char figure[32];
    text(im, 46 - width("max"), 25, "max", green);
    std::snprintf(figure, sizeof figure, "%5.2f", top / 100.0);
    text(im, 46 - width(figure), h + 28, figure, green);
    const int orange = rgb(255, 128, 0);
    text(im, 46 - width("avg"), 74 - h, "avg", orange);
    std::snprintf(figure, sizeof figure, "%5.2f", static_cast<double>(sum) / BARS / 100.0);
    text(im, 46 - width(figure), 76, figure, orange);
    text(im, 46 - width("0.00"), 122 - 2 * h, "0.00", green);
    text(im, 46 - width("min"), 125 - h, "min", green);
    const int dark = rgb(0, 128, 0);
    text(im, 454, 74 - h, "cur", dark);
    std::snprintf(figure, sizeof figure, "%5.2f", p.height[0] / 100.0);
    text(im, 454, 76, figure, dark);

    std::time_t now = std::time(nullptr);
    std::tm local;
    char date[80];
    if (localtime_r(&now, &local) && std::strftime(date, sizeof date, "%d.%m.%Y %H:%M:%S", &local) > 0)
        text(im, 446 - width(date), 129, date, rgb(0, 0, 0));

    gdImageRectangle(im, 50, 25, 450, 126, rgb(0, 0, 0));
    return im;
}

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    long draws = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "-i") == 0) in = argv[i + 1];
        else if (std::strcmp(argv[i], "-o") == 0) out = argv[i + 1];
        else if (std::strcmp(argv[i], "-n") == 0) draws = std::atol(argv[i + 1]);
    }
    if (!in || draws < 1 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: graph_reference -i KELP_PNG [-n DRAWS] [-o OUT_PNG]\n");
        return 2;
    }

    FILE* f = std::fopen(in, "rb");
    gdImagePtr kelp = f ? gdImageCreateFromPng(f) : nullptr;
    if (f) std::fclose(f);
    if (!kelp || gdImageSX(kelp) != 500 || gdImageSY(kelp) != 150) {
        std::fprintf(stderr, "graph_reference: %s is not a 500 x 150 PNG\n", in);
        return 1;
    }
    const picture p = read_back(kelp);

    // One picture to compare and to measure the size of.
    gdImagePtr im = draw(p);
    if (!im) return 1;
    long differing = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 500; ++x)
            if (gdImageGetTrueColorPixel(im, x, y) != gdImageGetTrueColorPixel(kelp, x, y)) ++differing;
    int png_bytes = 0;
    void* png = gdImagePngPtr(im, &png_bytes);
    if (out && png) {
        if (FILE* o = std::fopen(out, "wb")) {
            std::fwrite(png, 1, static_cast<size_t>(png_bytes), o);
            std::fclose(o);
        }
    }
    gdFree(png);
    gdImageDestroy(im);
    gdImageDestroy(kelp);

    // Kelp writes into the connection's stream; a stream that discards the
    // bytes keeps the encoder's work and drops only the network's.
    FILE* sink = std::fopen("/dev/null", "wb");
    if (!sink) {
        std::perror("/dev/null");
        return 1;
    }
    double start = cpu_seconds();
    for (long i = 0; i < draws; ++i) {
        gdImagePtr g = draw(p);
        if (!g) return 1;
        gdImagePng(g, sink);
        std::fflush(sink);
        gdImageDestroy(g);
    }
    double per_draw = (cpu_seconds() - start) / static_cast<double>(draws);
    std::fclose(sink);
    std::printf("draws=%ld cpu_us_per_graph=%.1f png_bytes=%d differing_pixels=%ld\n", draws, per_draw * 1e6, png_bytes,
                differing);
    return 0;
}
