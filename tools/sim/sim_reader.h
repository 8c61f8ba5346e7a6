#pragma once

#include "link/line_table.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kt::sim
{

constexpr int kLineSettingsCount = static_cast<int>(link::kLineSettings.size());
constexpr int kDefaultLineIndex = link::kFactoryLineSettingsIndex;

// The baud rate of a line-settings index; 0 outside the table.
int lineBaudRate(int lineIndex);

// What the reader keeps: its identity, its settings and the card in front of it.
struct ReaderState {
    std::string serialNumber = "12345678"; // 8 printable characters
    int readerId = 1;                      // 1..99
    std::string version = "03.20-01";      // 8 printable characters
    std::string mode = "001";              // output mode 0..1, Wiegand 0..2, RS485 0..2
    int lineIndex = kDefaultLineIndex;     // 0..11
    std::optional<std::string> card;       // 8 upper-case hexadecimal characters
};

bool isValidSerialNumber(std::string_view text); // also the version's rule: 8 printable
bool isValidMode(std::string_view digits);
// The card number in upper case; nullopt unless it is 8 hexadecimal characters.
std::optional<std::string> normalizedCard(std::string_view text);

// Faults the reader can be told to show; all off by default.
struct Faults {
    bool silent = false;        // hears nothing, answers nothing, changes nothing
    std::uint32_t delayMs = 0;  // each reply is sent this long after its frame arrived
    bool badChecksum = false;   // the checksum characters are wrong
    bool lowerChecksum = false; // the checksum in lower case (one without letters is unchanged)
    bool strayByte = false;     // one 0xFF byte before each reply
    int identityLength = 0;     // length of the identity reply; 0 for the normal 16
    bool badFields = false;     // the reader ID and the mode digits are not decimal digits
    int corruptPercent = 0;     // this share of replies is damaged at random (0..100)
    bool keepId = false;        // acknowledges a new reader ID but keeps its own
};

constexpr int kMinIdentityLength = 4;
constexpr int kMaxIdentityLength = 64;

// One reply to send: its bytes, when, and the line setting that takes effect once it is out.
struct Reply {
    std::string bytes;
    std::uint32_t delayMs = 0;
    std::optional<int> lineAfter;
};

// The reader model: takes the bytes that arrive on its line, answers the frames it hears.
// No I/O: the caller writes the replies and calls replySent() for each once it is on the line.
class SimReader
{
public:
    // A line of the reader's log (a frame heard or ignored, a state change), no timestamp.
    using Note = std::function<void(std::string_view)>;

    explicit SimReader(ReaderState state = {}, std::uint32_t seed = 1);

    void setNote(Note note) { m_note = std::move(note); }

    // Bytes as they came off the line, while the client's line runs at clientBaudRate. The
    // reader hears them only at its own baud rate; parity is not judged. Returns the replies
    // to the frames completed by these bytes, in order.
    std::vector<Reply> receive(std::string_view bytes, int clientBaudRate);

    // The reply has been written: a line change it acknowledged takes effect now.
    void replySent(const Reply &reply);

    const ReaderState &state() const { return m_state; }
    Faults &faults() { return m_faults; }
    const Faults &faults() const { return m_faults; }

    // false when the text is not 8 hexadecimal characters (the card stays as it was).
    bool presentCard(std::string_view hexNumber);
    void removeCard();

    // A bench of readers on one line: unplug() takes the reader away (nothing is heard until a
    // reader is plugged in again), plug() puts another one there, with no faults.
    void unplug();
    void plug(ReaderState state);
    bool isPlugged() const { return m_plugged; }

private:
    std::optional<Reply> hear(const std::string &frame, int ownRate);
    std::optional<Reply> answer(std::string_view command);
    std::optional<std::string> replyBody(std::string_view command, std::optional<int> &lineAfter,
                                         std::string &why);
    std::string identityBody() const;
    std::string finish(std::string_view body);
    void corrupt(std::string &bytes);
    void flushNoise();
    void note(std::string_view text);

    ReaderState m_state;
    Faults m_faults;
    Note m_note;
    std::mt19937 m_random;
    std::string m_frame;        // from its TAB; empty while between frames
    std::string m_noise;        // bytes between frames, logged in one line
    int m_misheardBaudRate = 0; // a byte of m_frame came at this other rate (-1: unknown)
    bool m_plugged = true;
};

// "09 41 30 30 42 30 41 0D |.A00B0A.|": the bytes in hex, then as text with '.' for the
// characters that are not printable.
std::string describeBytes(std::string_view bytes);

} // namespace kt::sim
