#include "png_probe.h"

#include <gdfonts.h>

#include <cstring>

#include "core/history.h"
#include "graph/grafutil.h"
#include "modules/modules.h"

namespace png_probe {

namespace {

gd_image reference(const std::string& text, int x, int y, int c) {
    gd_image ref(gdImageCreateTrueColor(500, 150));
    const int other = c == rgb(1, 2, 3) ? rgb(3, 2, 1) : rgb(1, 2, 3);
    gdImageFilledRectangle(ref.get(), 0, 0, 499, 149, other);
    std::string copy = text;
    gdImageString(ref.get(), gdFontSmall, x, y, reinterpret_cast<unsigned char*>(copy.data()), c);
    return ref;
}

}  // namespace

int pixel(gdImagePtr im, int x, int y) { return gdImageGetTrueColorPixel(im, x, y) & 0xFFFFFF; }

gd_image decode(FILE* f) {
    std::rewind(f);
    return gd_image(gdImageCreateFromPng(f));
}

gd_image finish_and_decode(void* handle) {
    unique_file f(std::tmpfile());
    if (!f) return nullptr;
    grafutil_finish(handle, f.get());
    return decode(f.get());
}

answer request(const char* url, const char* param) {
    answer a;
    const std::string all = capture([&](FILE* f) { a.handled = modules_urlhandler(f, url, param); });
    const size_t end = all.find("\r\n\r\n");
    a.header = all.substr(0, end == std::string::npos ? all.size() : end + 4);
    a.body = all.substr(a.header.size());
    return a;
}

gd_image image_of(const answer& a) {
    if (a.body.empty()) return nullptr;
    return gd_image(gdImageCreateFromPngPtr(static_cast<int>(a.body.size()), const_cast<char*>(a.body.data())));
}

gd_image graph(const char* url, const char* param) {
    answer a = request(url, param);
    EXPECT_EQ(a.handled, 1) << url;
    EXPECT_EQ(a.header, "Content-type: image/png\r\n\r\n") << url;
    return image_of(a);
}

::testing::AssertionResult text_at(gdImagePtr im, int x, int y, const std::string& text, int c) {
    gd_image ref = reference(text, x, y, c);
    const int w = gdFontSmall->w, h = gdFontSmall->h;
    int glyph = 0;
    for (int py = y; py < y + h; ++py)
        for (int px = x; px < x + static_cast<int>(text.size()) * w; ++px) {
            if (px < 0 || px > 499 || py < 0 || py > 149) continue;
            bool want = pixel(ref.get(), px, py) == c;
            bool have = pixel(im, px, py) == c;
            glyph += want;
            if (want != have)
                return ::testing::AssertionFailure()
                       << "\"" << text << "\" at (" << x << "," << y << "): pixel (" << px << "," << py << ") "
                       << (want ? "should" : "should not") << " be the text colour";
        }
    if (glyph == 0) return ::testing::AssertionFailure() << "\"" << text << "\" has no visible pixel there";
    return ::testing::AssertionSuccess();
}

int count(gdImagePtr im, int c, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) n += pixel(im, x, y) == c;
    return n;
}

int glyph_pixels(const std::string& text, int x, int y, int c) {
    gd_image ref = reference(text, x, y, c);
    return count(ref.get(), c);
}

void expect_texts(gdImagePtr im, const std::string& title, const std::vector<corner_pair>& pairs) {
    EXPECT_TRUE(text_at(im, 250 - static_cast<int>(title.size()) * 6 / 2, 6, title, BLACK)) << title;
    const int rows[3][2] = {{25, 41}, {61, 76}, {96, 112}};
    for (const corner_pair& p : pairs) {
        const char* texts[2] = {p.a, p.b};
        for (int i = 0; i < 2; ++i) {
            const int x = p.at < RIGHT_TOP ? 46 - static_cast<int>(std::strlen(texts[i])) * 6 : 454;
            EXPECT_TRUE(text_at(im, x, rows[p.at % 3][i], texts[i], p.colour)) << texts[i] << " beside " << p.a;
        }
    }
}

void expect_bytes(gdImagePtr im, const std::string& title, const byte_labels& labels, const char* const (&bytes)[6]) {
    std::vector<corner_pair> pairs;
    for (int at = LEFT_TOP; at <= RIGHT_BOTTOM; ++at) {
        const bool bottom = at % 3 == 2;
        pairs.push_back({corner_at(at), bottom ? bytes[at] : labels.label[at], bottom ? labels.label[at] : bytes[at],
                         labels.colour[at]});
    }
    expect_texts(im, title, pairs);
}

void expect_graphs(const std::vector<graph_case>& cases) {
    for (const graph_case& c : cases) {
        SCOPED_TRACE(std::string(c.url) + "?" + (c.param ? c.param : "(none)"));
        answer a = request(c.url, c.param);
        EXPECT_EQ(a.handled, c.title ? 1 : 0);
        if (!c.title) {
            EXPECT_EQ(a.header + a.body, "") << "a declined request writes nothing";
            continue;
        }
        gd_image im = image_of(a);
        ASSERT_TRUE(im);
        expect_texts(im.get(), c.title, {c.pair});
    }
}

void fill_ring(int ring, int n, const std::function<void(stat_struct&, int age)>& make) {
    for (int age = n - 1; age >= 0; --age) {
        stat_struct s;
        stat_cleanup(&s);
        make(s, age);
        history_put_data(ring, &s);
    }
}

}  // namespace png_probe
