#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>

// A fresh folder under $TMPDIR (or /tmp) for one test, removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        const char *base = std::getenv("TMPDIR");
        m_path = std::string(base != nullptr && *base ? base : "/tmp") + "/kt4500-settings-XXXXXX";
        if (::mkdtemp(m_path.data()) == nullptr)
            ADD_FAILURE() << "mkdtemp failed";
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    std::string file(const std::string &name) const { return m_path + "/" + name; }
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

inline void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::optional<std::string> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}
