#pragma once

// What every fuzz target shares: a way to stop on a broken invariant, and a quiet log.

#include "log/log.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace kt::fuzz
{

// A broken invariant ends the run as a crash, so that libFuzzer keeps the input.
inline void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// The code under test logs every refused input at warning level; at a million inputs a
// second that is all the fuzzer would do.
inline void silenceLog()
{
    static const bool silenced = [] {
        kt::log::setSink([](const kt::log::Category &, kt::log::Level, std::string_view) {});
        return true;
    }();
    (void)silenced;
}

inline std::string_view textOf(const std::uint8_t *data, std::size_t size)
{
    return {reinterpret_cast<const char *>(data), size};
}

} // namespace kt::fuzz
