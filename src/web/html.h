// The frame every HTML page of the daemon shares.
#pragma once

#include <cstddef>
#include <cstdio>

// What an answer carries, for html_content_type.
constexpr char HTML_PAGE[] = "text/html";
constexpr char PNG_GRAPH[] = "image/png";

// The rest of an answer's header after the status and Server lines: its
// content type and the empty line.
void html_content_type(FILE* out, const char* type);

void html_head(FILE* out, const char* title, const char* reload, const char* url);
void html_footer(FILE* out);

// Copy s into dst (size bytes, always terminated) with & < > " ' escaped, for
// text and attribute values alike. A copy that does not fit is cut at a whole
// character or entity.
void html_escape(char* dst, size_t size, const char* s);
// Copy s into dst percent-encoded for use inside a URL's query; cut likewise.
void html_urlencode(char* dst, size_t size, const char* s);
// Undoes html_urlencode: %XX becomes its byte, truncated to fit. "%00" and a
// '%' without two hex digits stay as written, so a name never ends early.
void html_urldecode(char* dst, size_t size, const char* s);
