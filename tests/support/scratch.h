// A fresh scratch directory, removed by its destructor.
#pragma once

#include <string>

struct scratch_dir {
    std::string path;
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    // Writes content to name inside the directory; the file's path.
    std::string write(const std::string& name, const std::string& content) const;
};
