#pragma once

#include "settings_store.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The registry export text format ("REGEDIT4" or "Windows Registry Editor Version 5.00"),
// parsed into a document that can be edited and written back with every line it does not
// change kept byte for byte: other keys, other values, comments, blank lines, line endings.
namespace kt::settings::reg
{

inline constexpr std::string_view kSettingsKey =
    "HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig";

// Whether the bytes are UTF-16 text, as the registry editor exports by default: a UTF-16 byte
// order mark, or a first character whose second byte is zero. Such a file is not read.
bool isUtf16(std::string_view bytes);

// Key and value names compare as the registry compares them: ASCII letters case-insensitive.
bool sameName(std::string_view a, std::string_view b);

class Document
{
public:
    enum class Status {
        Ok,         // starts with one of the two headers
        Empty,      // nothing but white space: a save starts a new document
        NotRegFile, // anything else; must not be overwritten
    };

    // Never fails: lines it cannot read are kept as they are and reported by problems().
    static Document parse(std::string_view bytes);

    Status status() const { return m_status; }

    // Whether the key exists once the file is applied as the registry would import it: a
    // section of the key or of one of its subkeys, not deleted afterwards by a [-...] section.
    bool hasKey(std::string_view key) const;

    // The key's values, the last line of a name winning. A value line whose name can be read
    // but whose data cannot is a Value::Type::Other value.
    KeyValues values(std::string_view key) const;

    // "line N: what is wrong" for the lines of the key that could not be read, at most
    // kMaxProblems of them and then a count of the rest.
    static constexpr std::size_t kMaxProblems = 20;
    std::vector<std::string> problems(std::string_view key) const;

    // Sets one value: its last line is rewritten in place, or a line is added after the last
    // value of the key's last section, or the key is added at the end of the document. false
    // (and nothing changed) for a Type::Other value, a name holding a line break or NUL, or a
    // NotRegFile document.
    bool setValue(std::string_view key, std::string_view name, const Value &value);

    // The document's bytes.
    std::string text() const;

private:
    struct Line {
        enum class Kind {
            Text,          // blank lines, comments, the header, text outside any section
            Section,       // [key]
            SectionDelete, // [-key]
            BadSection,    // starts with '[' but does not end with ']'
            Value,         // "name"=data, data readable or not (then value.type is Other)
            ValueDelete,   // "name"=-
            Unnamed,       // inside a section, but no value name can be read from it
        };
        std::string raw;        // the exact bytes, every physical line with its line ending
        std::size_t number = 0; // first physical line, 1-based
        std::size_t count = 1;  // physical lines in raw
        Kind kind = Kind::Text;
        std::string name; // key path of a section line, value name of a value line
        Value value;
        std::string problem;
        std::ptrdiff_t section = -1; // index of the line opening this line's section

        static Line ofText(std::string raw)
        {
            Line line;
            line.raw = std::move(raw);
            return line;
        }
    };

    class Cursor;
    static void readValueLine(std::string_view text, Cursor &cursor, bool isVersion5, Line &line);
    static void readHexValue(std::string_view data, Cursor &cursor, bool isVersion5, Line &line);

    bool isSectionOf(std::ptrdiff_t section, std::string_view key) const;
    std::ptrdiff_t lastDeletion(std::string_view key) const;
    void ensureEnding(std::size_t index);
    void insertLine(std::size_t at, Line line);
    std::string valueLine(std::string_view name, const Value &value) const;
    void append(Line line);

    Status m_status = Status::Empty;
    bool m_isVersion5 = false;
    std::string m_lineEnding = "\n";
    std::vector<Line> m_lines;
};

} // namespace kt::settings::reg
