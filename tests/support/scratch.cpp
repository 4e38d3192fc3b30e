#include "scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

scratch_dir::scratch_dir() {
    char tmpl[] = "/tmp/kelp-test-XXXXXX";
    const char* p = mkdtemp(tmpl);
    path = p ? p : "/tmp";
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    if (path.rfind("/tmp/kelp-test-", 0) == 0) std::filesystem::remove_all(path, ignored);
}

std::string scratch_dir::write(const std::string& name, const std::string& content) const {
    std::string p = path + "/" + name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
}
