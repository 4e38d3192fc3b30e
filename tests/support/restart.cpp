#include "restart.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "config/config.h"
#include "core/history.h"
#include "core/sampling.h"
#include "modules/modules.h"
#include "stat/stat_wrapper.h"

void read_config(const std::string& lines) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kelp-config-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) std::abort();
    if (write(fd, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size())) std::abort();
    close(fd);
    {
        silenced quiet(2);
        config_read(path.c_str());
    }
    unlink(path.c_str());
}

silenced::silenced(int fd) : fd(fd) {
    std::fflush(nullptr);
    saved = dup(fd);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, fd);
    close(null);
}

silenced::~silenced() {
    std::fflush(nullptr);
    dup2(saved, fd);
    close(saved);
}

void restart(const std::string& config_lines) {
    config_init();
    if (!config_lines.empty()) read_config(config_lines);
    stat_forget();
    sampling_reset();
    history_init();
    modules_register();
    modules_init();
}

std::string capture(const std::function<void(FILE*)>& write) {
    char* buffer = nullptr;
    size_t length = 0;
    FILE* f = open_memstream(&buffer, &length);
    if (!f) return "no memory stream";
    write(f);
    std::fclose(f);
    std::string text(buffer, length);
    std::free(buffer);
    return text;
}
