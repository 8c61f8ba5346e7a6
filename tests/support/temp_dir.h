#pragma once

// A test's own folder, and whole files written and read in one call.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <string_view>

namespace kt::test
{

// A fresh folder under $TMPDIR (or /tmp) for one test, removed with everything in it.
class TempDir
{
public:
    explicit TempDir(std::string_view prefix = "kt4500-test")
    {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/"
                              + std::string(prefix) + "-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
        else
            ADD_FAILURE() << "mkdtemp " << pattern << " failed";
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }

    const std::filesystem::path &path() const { return m_path; }
    std::string str() const { return m_path.string(); }
    std::string file(const std::string &name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline void writeFile(const std::string &path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The file's bytes; empty when it cannot be read.
inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace kt::test
