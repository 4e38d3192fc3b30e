// The request parser over the bytes of one read, as the server receives them:
// at most 1900 bytes in a 2000-byte buffer, terminated, cut up in place.
//
// The parser's answer is compared with the rules written out a second time in
// plain string terms: the method, the path up to the first blank, the URL up
// to its first separating '?', the parameter after the last one.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "web/httpd.h"

namespace {

constexpr size_t REQUEST_BUFFER = sizeof(threadstruct::request);

struct expected {
    httpd_parse_result result;
    std::string url;
    bool has_param;
    std::string param;
};

bool blank(char c) { return c == ' ' || c == '\t'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

expected model(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    if (i + 4 > text.size() || lower(text[i]) != 'g' || lower(text[i + 1]) != 'e' || lower(text[i + 2]) != 't' ||
        text[i + 3] != ' ')
        return {HTTPD_NOT_GET, "", false, ""};
    i += 3;
    while (i < text.size() && blank(text[i])) ++i;
    if (i == text.size() || text[i] != '/') return {HTTPD_MISSING_URL, "", false, ""};

    size_t end = i + 1;
    while (end < text.size() && !blank(text[end])) ++end;
    const std::string path = text.substr(i, end - i);

    // A '?' separates unless it directly follows a separating '?'.
    size_t first = std::string::npos, last = std::string::npos;
    for (size_t k = 1; k < path.size(); ++k) {
        if (path[k] != '?') continue;
        if (first == std::string::npos) first = k;
        last = k;
        ++k;
    }
    if (first == std::string::npos) return {HTTPD_REQUEST_OK, path, false, ""};
    return {HTTPD_REQUEST_OK, path.substr(0, first), true, path.substr(last + 1)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t n = size < HTTPD_REQUEST_LIMIT ? size : HTTPD_REQUEST_LIMIT;
    // Fresh each time, and no second terminator behind the first: a parser
    // that reads past the end of the text runs into the sanitizer.
    std::vector<char> request(REQUEST_BUFFER, 'x');
    std::memcpy(request.data(), data, n);
    request[n] = '\0';
    const expected want = model(std::string(request.data()));

    char* url = nullptr;
    char* param = nullptr;
    const httpd_parse_result got = httpd_parse_request(request.data(), &url, &param);
    FUZZ_CHECK(got == want.result);
    if (got != HTTPD_REQUEST_OK) return 0;

    const char* begin = request.data();
    const char* end = begin + n;
    FUZZ_CHECK(url >= begin && url < end && url[0] == '/');
    FUZZ_CHECK(url == want.url);
    FUZZ_CHECK((param != nullptr) == want.has_param);
    if (param) {
        FUZZ_CHECK(param > url && param <= end);
        FUZZ_CHECK(param == want.param);
    }
    return 0;
}
