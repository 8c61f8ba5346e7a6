#pragma once

// What kt4500ctl writes on standard output: lines of text, or one JSON object per line.

#include <cstdio>
#include <string>
#include <string_view>

namespace kt::cli
{

// The text made safe for a terminal and for JSON: valid UTF-8 passes, while bytes that are not
// UTF-8 and control characters (which a reader's reply may carry) become U+FFFD.
std::string cleanText(std::string_view bytes);

// A JSON object built one member at a time, in the order added. Texts are cleaned first.
class JsonObject
{
public:
    JsonObject &text(std::string_view key, std::string_view value);
    JsonObject &number(std::string_view key, long long value);
    JsonObject &boolean(std::string_view key, bool value);
    JsonObject &null(std::string_view key);

    std::string str() const { return "{" + m_members + "}"; }

private:
    void key(std::string_view key);
    std::string m_members;
};

class Printer
{
public:
    Printer(std::FILE *out, bool json)
        : m_out(out)
        , m_json(json)
    {
    }

    bool isJson() const { return m_json; }

    // One line, flushed at once so that a script reading a pipe sees each card as it comes.
    // false when the output has gone (the reading end of a pipe closed).
    bool line(std::string_view text);
    bool object(const JsonObject &object) { return line(object.str()); }
    // Text written as it is (the help), not cleaned.
    bool raw(std::string_view text);

    // Flushes what is left; false when that or any earlier line failed, with errno then.
    bool finish();
    int failedErrno() const { return m_errno; }

private:
    bool noteFailure(bool succeeded);

    std::FILE *m_out;
    bool m_json;
    int m_errno = 0; // of the first failed write
    bool m_failed = false;
};

} // namespace kt::cli
