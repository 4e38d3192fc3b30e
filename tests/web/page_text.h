// The pages as a browser receives them, spelt out piece by piece independently
// of the code that writes them.
#pragma once

#include <string>

namespace page_text {

inline const std::string STATUS = "HTTP/1.1 200 OK\r\nServer: Kelp Version 0.0.9\r\n";
// The two error answers, whole: the daemon closes the connection after them.
inline const std::string BAD_REQUEST = "HTTP/1.1 400 Request Error\r\n";
inline const std::string MISSING_URL = "HTTP/1.1 400 missing url or incomplete path\r\n";
// Configuration lines that switch every module off.
inline const char* const ALL_DISABLED = "module.load.enable 0\nmodule.netif.enable 0\nmodule.memswap.enable 0\n";
inline const std::string HTML = "Content-type: text/html\r\n\r\n";

inline const std::string DOCTYPE =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"\r\n"
    " \"http://www.w3.org/TR/html4/loose.dtd\">\r\n";

inline std::string head(const std::string& title, const char* reload = nullptr, const std::string& url = "") {
    std::string h = DOCTYPE + "<html>\r\n<head>\r\n";
    if (reload) h += std::string(" <meta http-equiv=\"refresh\" content=\"") + reload + "; url=" + url + "\">\r\n";
    return h + " <title>" + title + " - Kelp 0.0.9</title>\r\n</head>\r\n";
}

inline const std::string FOOTER =
    "<font size=\"-2\"><center>Output generated with "
    "<a href=\"/\" target=\"KelpSite\">Kelp Version 0.0.9</a></center></font>\r\n"
    "</body>\r\n"
    "</html>\r\n";

inline const std::string LOAD_PARAGRAPH =
    "Das <a href=\"/MOD_LOAD?overview\">MOD_LOAD</a> \r\n"
    "Modul zeigt die CPU Last auf Basis der Load grafisch an\r\n"
    "<p>\r\n";
inline const std::string NETIF_PARAGRAPH =
    "Das <a href=\"/MOD_NETIF?overview\">MOD_NETIF</a> \r\n"
    "Modul zeigt die Netzwerkauslastung von Netzwerkkarten an. Inbound und Outbound Traffic\r\n"
    "<p>\r\n";
inline const std::string MEMSWAP_PARAGRAPH =
    "Das <a href=\"/MOD_MEMSWAP?overview\">MOD_MEMSWAP</a> \r\n"
    "Modul zeigt die Speicherauslastung des Rechners an. Swap und Phy. Memory\r\n"
    "<p>\r\n";

// The main index page from its content-type line on.
inline std::string index_page(const std::string& paragraphs) {
    return HTML + head("Main Index") +
           "<body><h1>Kelp Main Page</h1><hr>\r\n"
           "Anzeigen aller Statistik Grafiken im <ul>"
           "<li><a href=\"/interval.html?1\">Interval 1 (400 sekunden)</a>"
           "<li><a href=\"/interval.html?10\">Interval 10 (4000 sekunden)</a>"
           "<li><a href=\"/interval.html?100\">Interval 100 (40000 sekunden)</a>"
           "</ul><hr>"
           "Liste aller einzelnen Module : <p>\r\n" +
           paragraphs + "<hr>" + FOOTER;
}

// An interval page from its content-type line on; links are the modules' images.
inline std::string interval_page(int interval, const std::string& links) {
    std::string n = std::to_string(interval);
    return HTML + head("Interval Full Graf", std::to_string(interval * 8).c_str(), "/interval.html?" + n) +
           "<body><h1>Full Statistics Interval " + n + "</h1><hr>\r\n" + links + FOOTER;
}

inline const std::string LOAD_OVERVIEW =
    "Content-type: text/html\r\n\r\n\r\n" + head("System Load", "10", "/MOD_LOAD?overview") +
    "<body>\r\n"
    "<h1>System Load Statistics Overview</h1>\r\n"
    "<hr><img src=\"/MOD_LOAD?grafinterval_1\">\r\n"
    "<hr><img src=\"/MOD_LOAD?grafinterval_10\">\r\n"
    "<hr>\r\n<img src=\"/MOD_LOAD?grafinterval_100\">\r\n"
    "<hr>\r\n" +
    FOOTER;

inline const std::string MEMSWAP_OVERVIEW =
    HTML + head("Memory and Swap Load", "10", "/MOD_MEMSWAP?overview") +
    "<body>\r\n"
    "<h1>Memory and Swap Statistics Overview</h1>\r\n"
    "<p>\r\n"
    "<img src=\"/MOD_MEMSWAP/grafinterval_1\"><hr>\r\n"
    "<img src=\"/MOD_MEMSWAP/grafinterval_10\"><hr>\r\n"
    "<img src=\"/MOD_MEMSWAP/grafinterval_100\"><hr>\r\n" +
    FOOTER;

// The list of interfaces; rows are "<a href=...>name</a><br>\r\n" lines.
inline std::string netif_list(const std::string& rows) {
    return HTML + head("System Network Load") +
           "<body>\r\n"
           "<h1>System Network Load Statistics Overview</h1>\r\n"
           "<p>\r\n" +
           rows + FOOTER;
}

// The page of one interface; as_html and as_url are the name escaped for text
// and for addresses.
inline std::string netif_page(const std::string& as_html, const std::string& as_url) {
    return HTML + head("Network Load (" + as_html + ")", "10", "/MOD_NETIF/overview?" + as_url) +
           "<body>\r\n"
           "<h1>Network Load Statistics Overview (" + as_html + ")</h1>\r\n"
           "<hr>\r\n<img src=\"/MOD_NETIF/grafinterval_1?" + as_url + "\">\r\n"
           "<hr>\r\n<img src=\"/MOD_NETIF/grafinterval_10?" + as_url + "\">\r\n"
           "<hr>\r\n<img src=\"/MOD_NETIF/grafinterval_100?" + as_url + "\">\r\n"
           "<hr>\r\n" + FOOTER;
}

}  // namespace page_text
