// Runs every input committed for a fuzz target (its seeds and the inputs that
// once broke something) through the target, so that the ordinary suite and
// the sanitizer builds keep them fixed without libFuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_check.h"

namespace {

namespace fs = std::filesystem;

TEST(FuzzReplay, EveryCommittedInputPasses) {
    std::vector<fs::path> inputs;
    for (const fs::directory_entry& e : fs::directory_iterator(KELP_FUZZ_CORPUS))
        if (e.is_regular_file()) inputs.push_back(e.path());
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty()) << "no inputs in " << KELP_FUZZ_CORPUS;

    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        ASSERT_TRUE(in) << p;
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A failing check aborts: name the input first.
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", p.filename().c_str(), bytes.size());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0) << p;
    }
}

}  // namespace
