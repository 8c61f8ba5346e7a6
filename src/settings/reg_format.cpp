#include "reg_format.h"

#include "base/utf8.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

namespace kt::settings::reg
{
namespace
{

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The registry's type numbers as hex(N) data names them; any other number is a type of its own.
enum class RegType : std::uint32_t { Sz = 1, ExpandSz = 2, Binary = 3, Dword = 4 };

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = lowerAscii(c);
    return out;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s)
{
    return trimRight(trimLeft(s));
}

bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && sameName(s.substr(0, prefix.size()), prefix);
}

// Whether path is the key `ancestor` itself or one of its subkeys.
bool covers(std::string_view ancestor, std::string_view path)
{
    return startsWithNoCase(path, ancestor)
           && (path.size() == ancestor.size() || path[ancestor.size()] == '\\');
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits, nothing else.
std::optional<std::uint32_t> readHex32(std::string_view s)
{
    if (s.empty() || s.size() > 8)
        return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return v;
}

std::string_view lineEndingOf(std::string_view raw)
{
    if (raw.ends_with("\r\n"))
        return "\r\n";
    if (raw.ends_with('\n'))
        return "\n";
    return {};
}

// A quoted text at the start of s (s[0] is '"') with the \" and \\ escapes; returns the text
// and what follows the closing quote. nullopt for another escape, a NUL or no closing quote.
std::optional<std::pair<std::string, std::string_view>> readQuoted(std::string_view s)
{
    std::string out;
    for (std::size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"')
            return std::pair{std::move(out), s.substr(i + 1)};
        if (c == '\0')
            return std::nullopt;
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"'))
                return std::nullopt;
            c = s[++i];
        }
        out += c;
    }
    return std::nullopt;
}

std::string quote(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// "00,ab,..." with optional white space around the bytes and one trailing comma.
std::optional<std::string> readHexBytes(std::string_view list)
{
    std::string out;
    list = trim(list);
    if (list.empty())
        return out;
    for (std::size_t pos = 0;;) {
        const auto comma = list.find(',', pos);
        const auto token =
            trim(list.substr(pos, comma == std::string_view::npos ? comma : comma - pos));
        if (token.empty() && comma == std::string_view::npos && pos > 0)
            return out;
        const auto byte = token.size() <= 2 ? readHex32(token) : std::nullopt;
        if (!byte)
            return std::nullopt;
        out += static_cast<char>(*byte);
        if (comma == std::string_view::npos)
            return out;
        pos = comma + 1;
    }
}

std::string hexList(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (i > 0)
            out += ',';
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

void appendUtf8(std::string &out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf16(std::string &out, std::uint32_t unit)
{
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// A registry string's bytes up to its terminating zero: UTF-16LE in "Version 5.00" files,
// single bytes in REGEDIT4 files (taken as UTF-8). An unpaired surrogate becomes U+FFFD.
std::string decodeString(std::string_view bytes, bool isVersion5)
{
    if (!isVersion5)
        return std::string(bytes.substr(0, bytes.find('\0')));
    const auto unitAt = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i]))
               | static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
    };
    std::string out;
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t cp = unitAt(i);
        if (cp == 0)
            break;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units && unitAt(i + 1) >= 0xDC00
            && unitAt(i + 1) < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

// The inverse of decodeString, with the terminating zero.
std::string encodeString(std::string_view text, bool isVersion5)
{
    if (!isVersion5)
        return std::string(text) + '\0';
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        // A byte that does not start a well-formed sequence is U+FFFD.
        const auto [cp, length] =
            base::firstUtf8Sequence(text.substr(i)).value_or(base::Utf8Sequence{0xFFFD, 1});
        if (cp >= 0x10000) {
            appendUtf16(out, 0xD800 + ((cp - 0x10000) >> 10));
            appendUtf16(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            appendUtf16(out, cp);
        }
        i += length;
    }
    out.append(2, '\0');
    return out;
}

// Whether a quoted string could not hold the text: a line break or another control
// character would end or damage the line.
bool needsHexForm(std::string_view text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            return true;
    }
    return false;
}

// The content of the last physical line of raw, without its line ending.
std::string_view lastPhysicalLine(std::string_view raw)
{
    raw = raw.substr(0, raw.size() - lineEndingOf(raw).size());
    const auto nl = raw.rfind('\n');
    return nl == std::string_view::npos ? raw : raw.substr(nl + 1);
}

} // namespace

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

// Walks the physical lines of a byte string without copying them.
class Document::Cursor
{
public:
    explicit Cursor(std::string_view bytes)
        : m_bytes(bytes)
    {
    }

    // raw: the line with its ending; content: without it.
    bool next(std::string_view &raw, std::string_view &content)
    {
        if (m_pos >= m_bytes.size())
            return false;
        const auto nl = m_bytes.find('\n', m_pos);
        const auto end = nl == std::string_view::npos ? m_bytes.size() : nl + 1;
        raw = m_bytes.substr(m_pos, end - m_pos);
        content = raw.substr(0, raw.size() - lineEndingOf(raw).size());
        m_pos = end;
        return true;
    }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

// A line starting with '"' or '@': a value name, '=', and the data. Without a readable
// name the line keeps the kind it was given.
void Document::readValueLine(std::string_view t, Cursor &cursor, bool isVersion5, Line &line)
{
    std::optional<std::pair<std::string, std::string_view>> name;
    if (t.front() == '@')
        name = std::pair{std::string(), t.substr(1)};
    else if (t.front() == '"')
        name = readQuoted(t);
    if (!name)
        return;
    line.kind = Line::Kind::Value;
    line.name = std::move(name->first);
    const auto rest = trimLeft(name->second);
    const auto data = trimLeft(rest.substr(rest.starts_with('=') ? 1 : 0));
    if (!rest.starts_with('=')) {
        line.problem = "no '=' after the value name";
    } else if (data == "-") {
        line.kind = Line::Kind::ValueDelete;
    } else if (data.starts_with('"')) {
        const auto text = readQuoted(data);
        if (text && trim(text->second).empty())
            line.value = Value::ofString(std::move(text->first));
        else
            line.problem = "unreadable string";
    } else if (startsWithNoCase(data, "dword:")) {
        if (const auto v = readHex32(data.substr(6)))
            line.value = Value::ofDword(*v);
        else
            line.problem = "unreadable 32-bit integer";
    } else if (startsWithNoCase(data, "hex")) {
        readHexValue(data, cursor, isVersion5, line);
    } else {
        line.problem = "unknown kind of data";
    }
}

// The data of a value after "hex": "(n):" or ":" and the byte list. A list may run over
// several physical lines, each but the last ending in a backslash; they are taken from the
// cursor into the line so that none of them is read as a line of its own.
void Document::readHexValue(std::string_view data, Cursor &cursor, bool isVersion5, Line &line)
{
    std::string joined;
    for (std::string_view piece = data;;) {
        piece = trimRight(piece);
        const bool continues = piece.ends_with('\\');
        if (continues)
            piece.remove_suffix(1);
        joined += piece;
        std::string_view raw;
        std::string_view content;
        if (!continues || !cursor.next(raw, content))
            break;
        line.raw += raw;
        ++line.count;
        piece = trimLeft(content);
    }

    std::string_view rest = joined;
    rest.remove_prefix(3); // "hex"
    std::optional<RegType> type = RegType::Binary;
    if (rest.starts_with('(')) {
        const auto close = rest.find(')');
        const auto number =
            close == std::string_view::npos ? std::nullopt : readHex32(rest.substr(1, close - 1));
        type = number ? std::optional(static_cast<RegType>(*number)) : std::nullopt;
        rest.remove_prefix(close == std::string_view::npos ? rest.size() : close + 1);
    }
    const auto bytes = rest.starts_with(':') ? readHexBytes(rest.substr(1)) : std::nullopt;
    if (!type || !bytes) {
        line.problem = "unreadable hex data";
        return;
    }
    if (*type == RegType::Sz || *type == RegType::ExpandSz) {
        line.value = Value::ofString(decodeString(*bytes, isVersion5));
    } else if (*type == RegType::Dword && bytes->size() == 4) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>((*bytes)[static_cast<std::size_t>(i)]);
        line.value = Value::ofDword(v);
    } else if (*type == RegType::Dword) {
        line.problem = "a 32-bit integer of " + std::to_string(bytes->size()) + " bytes";
    }
}

bool isUtf16(std::string_view bytes)
{
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))
        return true;
    return bytes.size() >= 2 && (bytes[0] == '\0') != (bytes[1] == '\0');
}

Document Document::parse(std::string_view bytes)
{
    Document doc;
    Cursor cursor(bytes);
    std::string_view raw;
    std::string_view content;
    std::size_t number = 0;
    std::ptrdiff_t section = -1;
    bool seenEnding = false;

    while (cursor.next(raw, content)) {
        ++number;
        if (!seenEnding && !lineEndingOf(raw).empty()) {
            doc.m_lineEnding = lineEndingOf(raw);
            seenEnding = true;
        }
        if (number == 1 && content.starts_with(kUtf8Bom))
            content.remove_prefix(kUtf8Bom.size());
        const auto t = trim(content);
        const bool isText = doc.m_status == Status::Ok && (t.empty() || t.front() == ';');
        if (isText && !doc.m_lines.empty() && doc.m_lines.back().kind == Line::Kind::Text
            && doc.m_lines.back().section == section) {
            doc.m_lines.back().raw += raw;
            ++doc.m_lines.back().count;
            continue;
        }
        Line line;
        line.number = number;
        line.raw = raw;

        if (doc.m_status != Status::Ok) {
            if (t == kHeader4 || t == kHeader5) {
                doc.m_status = Status::Ok;
                doc.m_isVersion5 = t == kHeader5;
            } else if (!t.empty()) {
                Document bad;
                bad.m_status = Status::NotRegFile;
                bad.m_lines.push_back(Line::ofText(std::string(bytes)));
                return bad;
            }
        } else if (isText) {
            line.section = section;
        } else if (t.front() == '[') {
            const auto path =
                t.size() >= 3 && t.back() == ']' ? t.substr(1, t.size() - 2) : std::string_view{};
            const bool isDelete = path.starts_with('-');
            line.name = isDelete ? path.substr(1) : path;
            if (line.name.empty()) {
                line.kind = Line::Kind::BadSection;
                line.name = t.substr(1);
                line.problem = "a key line without its closing ']'";
            } else {
                line.kind = isDelete ? Line::Kind::SectionDelete : Line::Kind::Section;
            }
            section = line.kind == Line::Kind::Section
                          ? static_cast<std::ptrdiff_t>(doc.m_lines.size())
                          : -1;
            line.section = section;
        } else {
            line.section = section;
            line.kind = section >= 0 ? Line::Kind::Unnamed : Line::Kind::Text;
            readValueLine(t, cursor, doc.m_isVersion5, line);
            number += line.count - 1;
        }
        doc.append(std::move(line));
    }
    return doc;
}

void Document::append(Line line)
{
    // Runs of lines that are never edited share one entry, so that a file of a million
    // blank or unreadable lines stays a handful of entries.
    if (!m_lines.empty()) {
        Line &last = m_lines.back();
        const bool mergeable = line.kind == Line::Kind::Text || line.kind == Line::Kind::Unnamed;
        if (mergeable && last.kind == line.kind && last.section == line.section) {
            last.raw += line.raw;
            last.count += line.count;
            return;
        }
    }
    m_lines.push_back(std::move(line));
}

bool Document::isSectionOf(std::ptrdiff_t section, std::string_view key) const
{
    return section >= 0 && m_lines[static_cast<std::size_t>(section)].kind == Line::Kind::Section
           && sameName(m_lines[static_cast<std::size_t>(section)].name, key);
}

std::ptrdiff_t Document::lastDeletion(std::string_view key) const
{
    for (auto i = static_cast<std::ptrdiff_t>(m_lines.size()) - 1; i >= 0; --i) {
        const Line &l = m_lines[static_cast<std::size_t>(i)];
        if (l.kind == Line::Kind::SectionDelete && covers(l.name, key))
            return i;
    }
    return -1;
}

bool Document::hasKey(std::string_view key) const
{
    if (m_status != Status::Ok)
        return false;
    bool exists = false;
    for (const Line &l : m_lines) {
        if (l.kind == Line::Kind::Section && covers(key, l.name))
            exists = true;
        else if (l.kind == Line::Kind::SectionDelete && covers(l.name, key))
            exists = false;
    }
    return exists;
}

KeyValues Document::values(std::string_view key) const
{
    KeyValues out;
    std::map<std::string, std::string> spelling; // lower-case name -> name as first stored
    for (const Line &l : m_lines) {
        if (l.kind == Line::Kind::SectionDelete && covers(l.name, key)) {
            out.clear();
            spelling.clear();
            continue;
        }
        const bool isValue = l.kind == Line::Kind::Value || l.kind == Line::Kind::ValueDelete;
        if (!isValue || !isSectionOf(l.section, key))
            continue;
        const auto [it, isNew] = spelling.try_emplace(lowerAscii(l.name), l.name);
        if (l.kind == Line::Kind::ValueDelete) {
            out.erase(it->second);
            spelling.erase(it);
        } else {
            out[it->second] = l.value;
        }
    }
    return out;
}

std::vector<std::string> Document::problems(std::string_view key) const
{
    std::vector<std::string> out;
    std::size_t more = 0;
    for (const Line &l : m_lines) {
        std::string text;
        if (l.kind == Line::Kind::Unnamed && isSectionOf(l.section, key)) {
            text = l.count == 1 ? "line " + std::to_string(l.number) + ": no value name"
                                : "lines " + std::to_string(l.number) + "-"
                                      + std::to_string(l.number + l.count - 1) + ": no value name";
        } else if (!l.problem.empty()
                   && (isSectionOf(l.section, key)
                       || (l.kind == Line::Kind::BadSection && startsWithNoCase(l.name, key)))) {
            text = "line " + std::to_string(l.number) + ": " + l.problem;
        }
        if (text.empty())
            continue;
        if (out.size() < kMaxProblems)
            out.push_back(std::move(text));
        else
            ++more;
    }
    if (more > 0)
        out.push_back("and " + std::to_string(more) + " more");
    return out;
}

std::string Document::valueLine(std::string_view name, const Value &value) const
{
    std::string line = name.empty() ? std::string("@") : quote(name);
    line += '=';
    if (value.type == Value::Type::Dword) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value.dword));
        line += "dword:";
        line += digits;
    } else if (needsHexForm(value.text)) {
        line += "hex(1):" + hexList(encodeString(value.text, m_isVersion5));
    } else {
        line += quote(value.text);
    }
    return line;
}

void Document::ensureEnding(std::size_t index)
{
    std::string &raw = m_lines[index].raw;
    if (raw.ends_with('\n'))
        return;
    raw += raw.ends_with('\r') && m_lineEnding == "\r\n" ? std::string("\n") : m_lineEnding;
}

void Document::insertLine(std::size_t at, Line line)
{
    for (Line &l : m_lines) {
        if (l.section >= static_cast<std::ptrdiff_t>(at))
            ++l.section;
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

bool Document::setValue(std::string_view key, std::string_view name, const Value &value)
{
    if (m_status == Status::NotRegFile || value.type == Value::Type::Other
        || name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return false;
    if (m_status == Status::Empty) {
        m_lines.clear();
        m_lines.push_back(Line::ofText(std::string(kHeader4) + m_lineEnding));
        m_status = Status::Ok;
        m_isVersion5 = false;
    }

    Line line;
    line.kind = Line::Kind::Value;
    line.name = name;
    line.value = value;
    line.raw = valueLine(name, value);

    const auto deletion = lastDeletion(key);
    const auto size = static_cast<std::ptrdiff_t>(m_lines.size());
    for (auto i = size - 1; i > deletion; --i) {
        Line &old = m_lines[static_cast<std::size_t>(i)];
        const bool isValue = old.kind == Line::Kind::Value || old.kind == Line::Kind::ValueDelete;
        if (isValue && isSectionOf(old.section, key) && sameName(old.name, name)) {
            line.raw += lineEndingOf(old.raw);
            line.number = old.number;
            line.section = old.section;
            old = std::move(line);
            return true;
        }
    }

    line.raw += m_lineEnding;
    for (auto i = size - 1; i > deletion; --i) {
        const auto s = static_cast<std::size_t>(i);
        if (m_lines[s].kind != Line::Kind::Section || !sameName(m_lines[s].name, key))
            continue;
        std::size_t at = s + 1;
        for (std::size_t j = s + 1; j < m_lines.size() && m_lines[j].section == i; ++j) {
            if (m_lines[j].kind != Line::Kind::Text)
                at = j + 1;
        }
        ensureEnding(at - 1);
        // A hex list cut off at the end of the file would take the new line as its
        // continuation; a blank line ends the list first.
        if (trimRight(lastPhysicalLine(m_lines[at - 1].raw)).ends_with('\\'))
            m_lines[at - 1].raw += m_lineEnding;
        line.section = i;
        insertLine(at, std::move(line));
        return true;
    }

    ensureEnding(m_lines.size() - 1);
    if (!trim(lastPhysicalLine(m_lines.back().raw)).empty())
        m_lines.push_back(Line::ofText(m_lineEnding));
    Line header;
    header.kind = Line::Kind::Section;
    header.name = key;
    header.raw = "[" + std::string(key) + "]" + m_lineEnding;
    header.section = static_cast<std::ptrdiff_t>(m_lines.size());
    line.section = header.section;
    m_lines.push_back(std::move(header));
    m_lines.push_back(std::move(line));
    return true;
}

std::string Document::text() const
{
    std::string out;
    for (const Line &l : m_lines)
        out += l.raw;
    return out;
}

} // namespace kt::settings::reg
