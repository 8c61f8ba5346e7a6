#include "printer.h"

#include "base/utf8.h"

#include <cerrno>
#include <cstdint>

namespace kt::cli
{

namespace
{

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

bool isControl(std::string_view sequence)
{
    const auto lead = static_cast<unsigned char>(sequence[0]);
    if (sequence.size() == 1)
        return lead < 0x20 || lead == 0x7F;
    // U+0080 to U+009F, the C1 controls: some terminals act on them as on ESC sequences.
    return sequence.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0;
}

} // namespace

std::string cleanText(std::string_view bytes)
{
    std::string clean;
    clean.reserve(bytes.size());
    while (!bytes.empty()) {
        const auto utf8 = base::firstUtf8Sequence(bytes);
        if (!utf8) {
            clean += kReplacement;
            bytes.remove_prefix(1);
            continue;
        }
        const std::size_t length = utf8->length;
        const std::string_view sequence = bytes.substr(0, length);
        if (isControl(sequence))
            clean += kReplacement;
        else
            clean += sequence;
        bytes.remove_prefix(length);
    }
    return clean;
}

void JsonObject::key(std::string_view key)
{
    if (!m_members.empty())
        m_members += ',';
    m_members += '"';
    m_members += key;
    m_members += "\":";
}

JsonObject &JsonObject::text(std::string_view key, std::string_view value)
{
    this->key(key);
    m_members += '"';
    // No control characters are left after cleaning; only these two need escapes.
    for (char c : cleanText(value)) {
        if (c == '"' || c == '\\')
            m_members += '\\';
        m_members += c;
    }
    m_members += '"';
    return *this;
}

JsonObject &JsonObject::number(std::string_view key, long long value)
{
    this->key(key);
    m_members += std::to_string(value);
    return *this;
}

JsonObject &JsonObject::boolean(std::string_view key, bool value)
{
    this->key(key);
    m_members += value ? "true" : "false";
    return *this;
}

JsonObject &JsonObject::null(std::string_view key)
{
    this->key(key);
    m_members += "null";
    return *this;
}

bool Printer::line(std::string_view text)
{
    // Flushed at once, so that a script reading a pipe sees each card as it comes.
    return raw(cleanText(text) + "\n") && noteFailure(std::fflush(m_out) == 0);
}

bool Printer::raw(std::string_view text)
{
    return noteFailure(std::fwrite(text.data(), 1, text.size(), m_out) == text.size());
}

bool Printer::finish()
{
    noteFailure(std::fflush(m_out) == 0 && std::ferror(m_out) == 0);
    return !m_failed;
}

bool Printer::noteFailure(bool succeeded)
{
    if (!succeeded && !m_failed) {
        m_failed = true;
        m_errno = errno;
    }
    return succeeded;
}

} // namespace kt::cli
