// Runs one fuzz target over its committed inputs: the seed corpus and every input that once
// broke it. Built with the project's own compiler and sanitizers, so the inputs are tried at
// every test run, not only when the fuzzer runs.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace
{

namespace fs = std::filesystem;

std::vector<fs::path> inputs()
{
    std::vector<fs::path> found;
    for (const char *folder : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(KT_SOURCE_DIR) / "fuzz" / folder / KT_FUZZ_TARGET;
        if (!fs::is_directory(dir))
            continue;
        for (const auto &entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file())
                found.push_back(entry.path());
        }
    }
    return found;
}

// The suite is named after the target (TransactFuzz, ...), so that each has a name of its own.
TEST(KT_FUZZ_SUITE, CommittedInputsRunClean)
{
    const auto files = inputs();
    ASSERT_FALSE(files.empty()) << "no seed corpus for " << KT_FUZZ_TARGET;
    for (const auto &file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        // A broken invariant or a sanitizer report ends the process with the input's name.
        std::fprintf(stderr, "replaying %s\n", file.c_str());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                         bytes.size()),
                  0);
    }
}

} // namespace
