#include "web/html.h"

#include <cstring>

#include "config/config.h"

void html_content_type(FILE* out, const char* type) { std::fprintf(out, "Content-type: %s\r\n\r\n", type); }

void html_head(FILE* out, const char* title, const char* reload, const char* url) {
    std::fputs("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"\r\n"
               " \"http://www.w3.org/TR/html4/loose.dtd\">\r\n"
               "<html>\r\n"
               "<head>\r\n",
               out);
    if (reload) std::fprintf(out, " <meta http-equiv=\"refresh\" content=\"%s; url=%s\">\r\n", reload, url ? url : "");
    std::fprintf(out, " <title>%s - Kelp %s</title>\r\n", title ? title : "", KELP_VERSION);
    std::fputs("</head>\r\n", out);
}

void html_footer(FILE* out) {
    // Kelp has no site of its own: the credit links to the daemon's main page.
    std::fprintf(out,
                 "<font size=\"-2\"><center>"
                 "Output generated with "
                 "<a href=\"/\" target=\"KelpSite\">Kelp Version %s</a>"
                 "</center></font>\r\n"
                 "</body>\r\n"
                 "</html>\r\n",
                 KELP_VERSION);
}

namespace {

// Appends piece to dst at *len if the whole of it fits before the terminator.
bool append(char* dst, size_t size, size_t* len, const char* piece, size_t n) {
    if (*len + n >= size) return false;
    std::memcpy(dst + *len, piece, n);
    *len += n;
    dst[*len] = '\0';
    return true;
}

}  // namespace

void html_escape(char* dst, size_t size, const char* s) {
    if (size == 0) return;
    size_t len = 0;
    dst[0] = '\0';
    for (; s && *s; ++s) {
        const char* piece = s;
        size_t n = 1;
        switch (*s) {
            case '&': piece = "&amp;"; n = 5; break;
            case '<': piece = "&lt;"; n = 4; break;
            case '>': piece = "&gt;"; n = 4; break;
            case '"': piece = "&quot;"; n = 6; break;
            case '\'': piece = "&#39;"; n = 5; break;
            default: break;
        }
        if (!append(dst, size, &len, piece, n)) return;
    }
}

void html_urlencode(char* dst, size_t size, const char* s) {
    static const char hex[] = "0123456789ABCDEF";
    if (size == 0) return;
    size_t len = 0;
    dst[0] = '\0';
    for (; s && *s; ++s) {
        auto c = static_cast<unsigned char>(*s);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     std::strchr("-._~:@+,;=!*()$/", c) != nullptr;
        char enc[3] = {'%', hex[c >> 4], hex[c & 15]};
        if (!(plain ? append(dst, size, &len, s, 1) : append(dst, size, &len, enc, 3))) return;
    }
}

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void html_urldecode(char* dst, size_t size, const char* s) {
    if (size == 0) return;
    size_t len = 0;
    for (; s && *s && len + 1 < size; ++s) {
        int hi = s[0] == '%' ? hex_value(s[1]) : -1;
        int lo = hi >= 0 ? hex_value(s[2]) : -1;
        if (lo >= 0 && (hi | lo) != 0) {
            dst[len++] = static_cast<char>(hi * 16 + lo);
            s += 2;
        } else {
            dst[len++] = *s;
        }
    }
    dst[len] = '\0';
}
