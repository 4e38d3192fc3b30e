#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <limits>
#include <string>

#include "graph/grafutil.h"
#include "png_probe.h"

namespace {

using namespace png_probe;

constexpr int RED = rgb(255, 0, 0);

gdImagePtr live(void* handle) { return static_cast<gdImagePtr>(handle); }

// Draws on a fresh canvas, finishes it and hands back the decoded PNG.
gd_image drawn(const std::function<void(void*)>& draw) {
    void* handle = grafutil_createimage();
    if (!handle) return nullptr;
    draw(handle);
    return finish_and_decode(handle);
}

TEST(Canvas, FinishWritesFramedPngWithGridAndFlushes) {
    void* handle = grafutil_createimage();
    ASSERT_NE(handle, nullptr);
    grafutil_gitter(handle);
    unique_file f(std::tmpfile());
    ASSERT_TRUE(f);
    grafutil_finish(handle, f.get());
    struct stat st;
    ASSERT_EQ(fstat(fileno(f.get()), &st), 0);
    EXPECT_GT(st.st_size, 0) << "the PNG reached the file without another flush";
    EXPECT_EQ(st.st_size, std::ftell(f.get()));

    gd_image im = decode(f.get());
    ASSERT_TRUE(im);
    EXPECT_EQ(gdImageSX(im.get()), 500);
    EXPECT_EQ(gdImageSY(im.get()), 150);
    struct probe {
        const char* desc;
        int x, y, colour;
    } probes[] = {
        {"canvas top left", 0, 0, BACKGROUND},          {"canvas bottom right", 499, 149, BACKGROUND},
        {"left of the plot", 49, 60, BACKGROUND},       {"right of the frame", 451, 60, BACKGROUND},
        {"below the frame", 250, 127, BACKGROUND},      {"above the frame", 250, 24, BACKGROUND},
        {"plot inside top left", 51, 26, WHITE},        {"plot inside bottom right", 449, 125, WHITE},
        {"frame top left", 50, 25, BLACK},              {"frame top right", 450, 25, BLACK},
        {"frame bottom left", 50, 126, BLACK},          {"frame bottom right", 450, 126, BLACK},
        {"frame left edge", 50, 80, BLACK},             {"frame right edge", 450, 80, BLACK},
        {"frame bottom edge", 250, 126, BLACK},         {"first dot of row 50", 52, 50, GREY},
        {"last dot of row 100", 446, 100, GREY},        {"between two dots of row 75", 53, 75, WHITE},
        {"row 75 beyond its last dot", 448, 75, WHITE}, {"top of the first vertical line", 60, 27, GREY},
        {"bottom of the last vertical line", 440, 123, GREY},
        {"between two dots of a vertical line", 60, 28, WHITE},
        {"below a vertical line", 60, 125, WHITE},      {"column between vertical lines", 65, 27, WHITE},
    };
    for (const probe& p : probes) {
        SCOPED_TRACE(p.desc);
        EXPECT_EQ(pixel(im.get(), p.x, p.y), p.colour);
    }
    EXPECT_EQ(count(im.get(), BLACK), 2 * 401 + 2 * 100) << "nothing black but the frame";
    // 2,505 dots, of which 39 fall twice on row 75.
    EXPECT_EQ(count(im.get(), GREY), 198 * 3 + 39 * 49 - 39);
}

using draw_fn = void (*)(void*, int x, int y);

// Checked before finish: the frame later covers columns 50 and 450.
TEST(Canvas, BarsAndLinesClampToPlot) {
    const draw_fn bar = [](void* h, int x, int y) { grafutil_drawbar(h, x, y, 255, 0, 0); };
    const draw_fn hline = [](void* h, int, int y) { grafutil_drawhline(h, y, 255, 0, 0); };
    const draw_fn flat = [](void* h, int x, int y) { grafutil_drawsegmentline(h, x, y, x - 5, y, 255, 0, 0); };
    struct row {
        const char* desc;
        draw_fn draw;
        int x, y;
        int x0, y0, x1, y1;  // the red pixels, exactly
    } rows[] = {
        {"bar left of newest, too high", bar, -5, 150, 450, 26, 450, 125},
        {"newest bar, height 0 is one pixel", bar, 0, 0, 450, 125, 450, 125},
        {"oldest bar, highest", bar, 399, 99, 51, 26, 51, 125},
        {"bar beyond the oldest, below zero", bar, 500, -3, 51, 125, 51, 125},
        {"middle bar, half height", bar, 200, 50, 250, 75, 250, 125},
        {"line on the baseline", hline, 0, 0, 50, 125, 449, 125},
        {"line below zero", hline, 0, -7, 50, 125, 449, 125},
        {"line at the top", hline, 0, 99, 50, 26, 449, 26},
        {"line above the top", hline, 0, 150, 50, 26, 449, 26},
        {"line in the middle", hline, 0, 50, 50, 75, 449, 75},
        {"flat segment from x 10 to 5", flat, 10, 30, 440, 95, 445, 95},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        void* handle = grafutil_createimage();
        ASSERT_NE(handle, nullptr);
        r.draw(handle, r.x, r.y);
        const int area = (r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
        EXPECT_EQ(count(live(handle), RED, r.x0, r.y0, r.x1, r.y1), area);
        EXPECT_EQ(count(live(handle), RED), area) << "nothing else";
        grafutil_finish(handle, nullptr);
    }
}

TEST(Canvas, SegmentLineClampsBothEnds) {
    void* handle = grafutil_createimage();
    ASSERT_NE(handle, nullptr);
    grafutil_drawsegmentline(handle, -3, 500, 1000, -20, 255, 0, 0);
    gdImagePtr im = live(handle);
    EXPECT_EQ(pixel(im, 450, 26), RED) << "(0, 99)";
    EXPECT_EQ(pixel(im, 51, 125), RED) << "(399, 0)";
    EXPECT_EQ(count(im, RED, 0, 0, 499, 25), 0);
    EXPECT_EQ(count(im, RED, 0, 126, 499, 149), 0);
    grafutil_finish(handle, nullptr);
}

TEST(Canvas, TitleIsCentredAboveThePlot) {
    gd_image im = drawn([](void* h) {
        grafutil_title(h, "abc");
        grafutil_title(h, nullptr);
    });
    ASSERT_TRUE(im);
    EXPECT_TRUE(text_at(im.get(), 241, 6, "abc", BLACK));
    EXPECT_EQ(count(im.get(), BLACK, 0, 0, 499, 24), glyph_pixels("abc", 241, 6, BLACK));
}

TEST(Canvas, DateStampEndsLeftOfColumn446) {
    // The clock may tick between drawing and formatting; a few tries suffice.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::time_t before = std::time(nullptr);
        gd_image im = drawn(grafutil_dateonrightbottom);
        std::time_t after = std::time(nullptr);
        ASSERT_TRUE(im);
        if (before != after) continue;
        std::tm local;
        ASSERT_NE(localtime_r(&before, &local), nullptr);
        char expected[80];
        ASSERT_EQ(std::strftime(expected, sizeof expected, "%d.%m.%Y %H:%M:%S", &local), 19u);
        EXPECT_TRUE(text_at(im.get(), 332, 129, expected, BLACK));
        EXPECT_EQ(count(im.get(), BLACK, 0, 127, 499, 149), glyph_pixels(expected, 332, 129, BLACK));
        return;
    }
    FAIL() << "the clock never held still for one drawing";
}

using label_fn = void (*)(void*, const char*, const char*, int, int, int);

// Pairs in every corner are the module graphs' tests' to check; here the
// texts alone, and those that do not fit.
TEST(Canvas, LabelsSitInTheirCornerRows) {
    static const std::string LONG = std::string(5000, 'x') + "ab";
    struct row {
        const char* desc;
        label_fn fn;
        const char* a;
        const char* b;
        int ax, ay, bx, by;
    } rows[] = {
        {"left top a only", grafutil_textlefttop, "ab", nullptr, 34, 25, 0, 0},
        {"left top b only", grafutil_textlefttop, nullptr, "wxyz", 0, 0, 22, 25},
        {"left center a only", grafutil_textleftcenter, "ab", nullptr, 34, 69, 0, 0},
        {"left center b only", grafutil_textleftcenter, nullptr, "wxyz", 0, 0, 22, 69},
        {"left bottom a only", grafutil_textleftbottom, "ab", nullptr, 34, 112, 0, 0},
        {"left bottom b only", grafutil_textleftbottom, nullptr, "wxyz", 0, 0, 22, 112},
        {"right top b only", grafutil_textrighttop, nullptr, "wxyz", 0, 0, 454, 25},
        {"right center a only", grafutil_textrightcenter, "ab", nullptr, 454, 69, 0, 0},
        {"right bottom a only", grafutil_textrightbottom, "ab", nullptr, 454, 112, 0, 0},
        {"left 7 characters fit", grafutil_textlefttop, "abcdefg", nullptr, 4, 25, 0, 0},
        {"left 8 characters are cut", grafutil_textlefttop, "abcdefgh", nullptr, -2, 25, 0, 0},
        {"right 7 characters end at 495", grafutil_textrighttop, "abcdefg", nullptr, 454, 25, 0, 0},
        {"right 8 characters run off", grafutil_textrighttop, "abcdefgh", nullptr, 454, 25, 0, 0},
        {"far longer than the margin, still ends at 46", grafutil_textleftbottom, LONG.c_str(), nullptr,
         46 - 6 * static_cast<int>(LONG.size()), 112, 0, 0},
        {"left neither text", grafutil_textleftcenter, nullptr, nullptr, 0, 0, 0, 0},
        {"right neither text", grafutil_textrightbottom, nullptr, nullptr, 0, 0, 0, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        gd_image im = drawn([&](void* h) { r.fn(h, r.a, r.b, 255, 0, 0); });
        ASSERT_TRUE(im);
        int expected = 0;
        if (r.a) {
            EXPECT_TRUE(text_at(im.get(), r.ax, r.ay, r.a, RED));
            expected += glyph_pixels(r.a, r.ax, r.ay, RED);
        }
        if (r.b) {
            EXPECT_TRUE(text_at(im.get(), r.bx, r.by, r.b, RED));
            expected += glyph_pixels(r.b, r.bx, r.by, RED);
        }
        EXPECT_EQ(count(im.get(), RED), expected) << "nothing else drawn";
        const int canvas = count(im.get(), BACKGROUND) + count(im.get(), WHITE) + count(im.get(), BLACK);
        EXPECT_EQ(canvas + expected, 500 * 150) << "nor in another colour";
    }
}

TEST(Canvas, NoImageMeansNoOutputAndNoCrash) {
    grafutil_drawbar(nullptr, 1, 1, 0, 0, 0);
    grafutil_drawhline(nullptr, 1, 0, 0, 0);
    grafutil_drawsegmentline(nullptr, 1, 1, 2, 2, 0, 0, 0);
    grafutil_gitter(nullptr);
    grafutil_title(nullptr, "t");
    grafutil_textlefttop(nullptr, "a", "b", 0, 0, 0);
    grafutil_textrightbottom(nullptr, "a", "b", 0, 0, 0);
    grafutil_dateonrightbottom(nullptr);
    unique_file f(std::tmpfile());
    ASSERT_TRUE(f);
    grafutil_finish(nullptr, f.get());
    std::fseek(f.get(), 0, SEEK_END);
    EXPECT_EQ(std::ftell(f.get()), 0);
}

TEST(Canvas, HeightTruncatesAndStaysInRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct row {
        const char* desc;
        double value, multi;
        int height;
    } rows[] = {
        {"half of the top", 2.0, 0.04, 50},
        {"the top", 4.0, 0.04, 100},
        {"truncates", 99.9, 1.0, 99},
        {"zero scale", 5.0, 0.0, 0},
        {"zero over zero", 0.0, 0.0, 0},
        {"negative scale", 5.0, -1.0, 0},
        {"NaN scale", 5.0, nan, 0},
        {"NaN value", nan, 1.0, 0},
        {"negative value", -3.0, 1.0, 0},
        {"huge quotient", 1e300, 1e-300, 100},
        {"infinite value", inf, 1.0, 100},
        {"full 64-bit count over a tiny scale", 18446744073709551615.0, 0.01, 100},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        EXPECT_EQ(grafutil_height(r.value, r.multi), r.height);
    }
}

}  // namespace
