// The pages as a browser receives them, from the content-type line on. The
// fixed ones stand byte for byte in files under golden/ beside this header;
// a page that carries links or names is its file with them put in.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace page_text {

inline const std::string STATUS = "HTTP/1.1 200 OK\r\nServer: Kelp Version 0.0.9\r\n";
// The two error answers, whole: the daemon closes the connection after them.
inline const std::string BAD_REQUEST = "HTTP/1.1 400 Request Error\r\n";
inline const std::string MISSING_URL = "HTTP/1.1 400 missing url or incomplete path\r\n";
// Configuration lines that switch every module off.
inline const char* const ALL_DISABLED = "module.load.enable 0\nmodule.netif.enable 0\nmodule.memswap.enable 0\n";
inline const std::string HTML = "Content-type: text/html\r\n\r\n";

// The bytes of golden/<name>; a file that cannot be read gives a text that no
// answer equals.
inline std::string golden(const std::string& name) {
    std::string path = __FILE__;
    std::ifstream in(path.erase(path.rfind('/') + 1) + "golden/" + name, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return in ? all.str() : "(no golden file " + name + ")";
}

inline const std::string FOOTER = golden("footer.txt");

// page with text put in just before its last end bytes.
inline std::string put_before(std::string page, const std::string& end, const std::string& text) {
    if (page.size() < end.size() || page.compare(page.size() - end.size(), end.size(), end) != 0) return page;
    return page.insert(page.size() - end.size(), text);
}

// The modules' paragraphs on the main index page.
inline const std::string LOAD_PARAGRAPH = golden("load_paragraph.txt");
inline const std::string NETIF_PARAGRAPH = golden("netif_paragraph.txt");
inline const std::string MEMSWAP_PARAGRAPH = golden("memswap_paragraph.txt");
inline const std::string CPU_PARAGRAPH = golden("cpu_paragraph.txt");

inline std::string index_page(const std::string& paragraphs) {
    return put_before(golden("index.txt"), "<hr>" + FOOTER, paragraphs);
}
// links are the modules' images.
inline std::string interval_page(int interval, const std::string& links) {
    return put_before(golden("interval_" + std::to_string(interval) + ".txt"), FOOTER, links);
}
inline const std::string LOAD_OVERVIEW = golden("load_overview.txt");
inline const std::string MEMSWAP_OVERVIEW = golden("memswap_overview.txt");
inline const std::string CPU_OVERVIEW = golden("cpu_overview.txt");
// rows are "<a href=...>name</a><br>\r\n" lines.
inline std::string netif_list(const std::string& rows) { return put_before(golden("netif_list.txt"), FOOTER, rows); }

// The page of one interface: golden/netif_page.txt with the name put in,
// escaped for text (as_html) and for addresses (as_url).
inline std::string netif_page(const std::string& as_html, const std::string& as_url) {
    std::string page = golden("netif_page.txt");
    const std::pair<std::string, std::string> names[] = {{"{html}", as_html}, {"{url}", as_url}};
    for (const auto& [mark, name] : names)
        for (size_t at = page.find(mark); at != std::string::npos; at = page.find(mark, at + name.size()))
            page.replace(at, mark.size(), name);
    return page;
}

}  // namespace page_text
