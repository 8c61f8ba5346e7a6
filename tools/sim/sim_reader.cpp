#include "sim_reader.h"

#include "link/frame.h"
#include "link/hex.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kt::sim
{

namespace
{
using kt::link::kCr;
using kt::link::kLf;
using kt::link::kTab;

// TAB, the longest command text the tool can frame, two checksum characters, CR.
constexpr std::size_t kMaxFrameLength = 1 + kt::link::kMaxCommandLength + 3;
// Bytes between frames are logged in lines of at most this many.
constexpr std::size_t kNoiseLineLength = 32;
constexpr char kStrayByte = '\xFF';

// The bodies of the replies. Positions are counted from 1 at the reply's LF, so the body
// starts at position 2. The characters the tool does not read are the reader's own choice.
constexpr std::string_view kIdentityTag = "B";   // position 2; ID at 3..4, ',' at 5
constexpr std::string_view kVersionTag = "VER:"; // positions 2..5; version at 6..13
constexpr std::string_view kModeTag = "MODE";    // positions 2..5; digits at 6, 7, 8
constexpr std::string_view kCardTag = "CARD:";   // positions 2..6; card number at 7..14
constexpr std::string_view kAcknowledge = "OK";

std::string twoDigits(int value)
{
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%02d", value);
    return text.data();
}

bool isPrintable(char c)
{
    return c >= 0x20 && c <= 0x7E;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
} // namespace

int lineBaudRate(int lineIndex)
{
    if (!link::isLineSettingsIndex(lineIndex))
        return 0;
    return static_cast<int>(link::kLineSettings[static_cast<std::size_t>(lineIndex)].baudRate);
}

bool isValidSerialNumber(std::string_view text)
{
    if (text.size() != 8)
        return false;
    for (char c : text) {
        if (!isPrintable(c))
            return false;
    }
    return true;
}

bool isValidMode(std::string_view digits)
{
    return digits.size() == 3 && (digits[0] == '0' || digits[0] == '1') && digits[1] >= '0'
           && digits[1] <= '2' && digits[2] >= '0' && digits[2] <= '2';
}

std::optional<std::string> normalizedCard(std::string_view text)
{
    if (text.size() != 8)
        return std::nullopt;
    std::string card;
    for (char c : text) {
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
        if (!isDigit(c) && !(c >= 'A' && c <= 'F'))
            return std::nullopt;
        card += c;
    }
    return card;
}

std::string describeBytes(std::string_view bytes)
{
    std::string hex;
    std::string text;
    for (char c : bytes) {
        const auto digits = kt::link::byteToHex(static_cast<std::uint8_t>(c));
        if (!hex.empty())
            hex += ' ';
        hex += digits[0];
        hex += digits[1];
        text += isPrintable(c) ? c : '.';
    }
    return hex + " |" + text + "|";
}

SimReader::SimReader(ReaderState state, std::uint32_t seed)
    : m_state(std::move(state))
    , m_random(seed)
{
}

bool SimReader::presentCard(std::string_view hexNumber)
{
    auto card = normalizedCard(hexNumber);
    if (!card)
        return false;
    m_state.card = std::move(card);
    note("card " + *m_state.card);
    return true;
}

void SimReader::removeCard()
{
    m_state.card.reset();
    note("nocard");
}

void SimReader::unplug()
{
    m_plugged = false;
    m_frame.clear();
    note("unplugged");
}

void SimReader::plug(ReaderState state)
{
    m_state = std::move(state);
    m_faults = Faults{};
    m_frame.clear();
    m_plugged = true;
    note("plugged serial " + m_state.serialNumber + " id " + twoDigits(m_state.readerId) + " line "
         + std::to_string(m_state.lineIndex));
}

std::vector<Reply> SimReader::receive(std::string_view bytes, int clientBaudRate)
{
    std::vector<Reply> replies;
    const int ownRate = lineBaudRate(m_state.lineIndex);
    for (char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte == kTab) {
            if (!m_frame.empty())
                note("rx " + describeBytes(m_frame) + " ignored: no CR before the next TAB");
            flushNoise();
            m_frame.assign(1, c);
            m_misheardBaudRate = 0;
        } else if (m_frame.empty()) {
            m_noise += c;
            if (m_noise.size() >= kNoiseLineLength)
                flushNoise();
            continue;
        } else {
            m_frame += c;
        }
        // Framed all the same, so that the log shows whole frames, but a frame with any
        // byte sent at another baud rate is noise to the reader.
        if (clientBaudRate != ownRate)
            m_misheardBaudRate = clientBaudRate == 0 ? -1 : clientBaudRate;

        if (byte == kCr) {
            const std::string frame = std::move(m_frame);
            m_frame.clear();
            if (auto reply = hear(frame, ownRate))
                replies.push_back(std::move(*reply));
        } else if (m_frame.size() >= kMaxFrameLength) {
            note("rx " + describeBytes(m_frame) + " ignored: frame too long");
            m_frame.clear();
        }
    }
    flushNoise();
    return replies;
}

std::optional<Reply> SimReader::hear(const std::string &frame, int ownRate)
{
    std::string why;
    if (m_misheardBaudRate != 0)
        why = "line at " + std::to_string(std::max(m_misheardBaudRate, 0)) + " baud, reader at "
              + std::to_string(ownRate);
    else if (!m_plugged)
        why = "no reader plugged in";
    else if (m_faults.silent)
        why = "silent";
    else if (!kt::link::checkFrame(frame))
        why = "bad checksum";
    if (!why.empty()) {
        note("rx " + describeBytes(frame) + " ignored: " + why);
        return std::nullopt;
    }
    note("rx " + describeBytes(frame));
    return answer(std::string_view(frame).substr(1, frame.size() - 4));
}

void SimReader::replySent(const Reply &reply)
{
    if (!reply.lineAfter || *reply.lineAfter == m_state.lineIndex)
        return;
    m_state.lineIndex = *reply.lineAfter;
    note("line " + std::to_string(m_state.lineIndex) + " ("
         + std::to_string(lineBaudRate(m_state.lineIndex)) + " baud)");
}

std::optional<Reply> SimReader::answer(std::string_view command)
{
    std::optional<int> lineAfter;
    std::string why;
    const auto body = replyBody(command, lineAfter, why);
    if (!body) {
        note("not answered: " + why);
        return std::nullopt;
    }
    Reply reply;
    reply.bytes = finish(*body);
    reply.delayMs = m_faults.delayMs;
    reply.lineAfter = lineAfter;
    return reply;
}

std::optional<std::string> SimReader::replyBody(std::string_view command,
                                                std::optional<int> &lineAfter, std::string &why)
{
    why = "unknown command";
    if (command.size() < 4 || command.substr(0, 3) != "A00")
        return std::nullopt;
    const std::string_view argument = command.substr(4);

    switch (command[3]) {
    case 'B':
        if (argument.empty())
            return identityBody();
        break;
    case 'V':
        if (argument.empty())
            return std::string(kVersionTag) + m_state.version;
        break;
    case 'A':
        if (argument.empty())
            return std::string(kModeTag) + (m_faults.badFields ? "???" : m_state.mode);
        if (argument.size() != 3)
            break;
        if (!isValidMode(argument)) {
            why = "mode digits out of range";
            return std::nullopt;
        }
        if (argument != m_state.mode) {
            m_state.mode = argument;
            note("mode " + m_state.mode);
        }
        return std::string(kAcknowledge);
    case 'C': {
        if (argument.size() != 10)
            break;
        if (argument.substr(0, 8) != m_state.serialNumber) {
            why = "serial number does not match";
            return std::nullopt;
        }
        const std::string_view id = argument.substr(8);
        const int value = isDigit(id[0]) && isDigit(id[1]) ? (id[0] - '0') * 10 + (id[1] - '0') : 0;
        if (value < 1) {
            why = "reader ID not 01..99";
            return std::nullopt;
        }
        if (m_faults.keepId) {
            note("id " + twoDigits(value) + " acknowledged, not taken");
        } else if (value != m_state.readerId) {
            m_state.readerId = value;
            note("id " + twoDigits(value));
        }
        return std::string(kAcknowledge);
    }
    case 'E': {
        if (argument.size() != 1)
            break;
        const auto row = std::find_if(
            link::kLineSettings.begin(), link::kLineSettings.end(),
            [&](const link::LineSetting &line) { return line.commandChar == argument[0]; });
        if (row == link::kLineSettings.end()) {
            why = "line-settings index not 0..9, A, B";
            return std::nullopt;
        }
        // The reader keeps its old line until the acknowledgement is out.
        lineAfter = static_cast<int>(row - link::kLineSettings.begin());
        return std::string(kAcknowledge);
    }
    case 'F':
        if (!argument.empty())
            break;
        // Reading cards takes the reader to RS485 output, as the tool's button says.
        if (m_state.mode[0] != '1') {
            m_state.mode[0] = '1';
            note("mode " + m_state.mode);
        }
        return std::string(kCardTag) + m_state.card.value_or("");
    default:
        break;
    }
    return std::nullopt;
}

std::string SimReader::identityBody() const
{
    std::string id = twoDigits(m_state.readerId);
    if (m_faults.badFields)
        id[0] = '?';
    std::string body = std::string(kIdentityTag) + id + "," + m_state.serialNumber;
    if (m_faults.identityLength != 0) {
        // Cut or padded so that the whole reply, LF to CR, has the asked length.
        const auto bodyLength = static_cast<std::size_t>(
            std::max(m_faults.identityLength, kMinIdentityLength) - kMinIdentityLength);
        body.resize(bodyLength, ' ');
    }
    return body;
}

std::string SimReader::finish(std::string_view body)
{
    std::string bytes = kt::link::replyFrame(body);
    const std::size_t sumAt = bytes.size() - 3;
    if (m_faults.badChecksum) {
        auto sum = kLf;
        for (char c : body)
            sum ^= static_cast<std::uint8_t>(c);
        // Both characters change, and both stay upper-case hexadecimal.
        const auto bad = kt::link::byteToHex(static_cast<std::uint8_t>(sum ^ 0xFF));
        bytes[sumAt] = bad[0];
        bytes[sumAt + 1] = bad[1];
    }
    if (m_faults.lowerChecksum) {
        for (std::size_t i = sumAt; i < sumAt + 2; ++i) {
            if (bytes[i] >= 'A' && bytes[i] <= 'F')
                bytes[i] = static_cast<char>(bytes[i] - 'A' + 'a');
        }
    }
    if (m_faults.corruptPercent > 0) {
        std::uniform_int_distribution<int> percent(0, 99);
        if (percent(m_random) < m_faults.corruptPercent)
            corrupt(bytes);
    }
    if (m_faults.strayByte)
        bytes.insert(bytes.begin(), kStrayByte);
    return bytes;
}

// Every kind of damage is one the client is certain to reject, and none leaves bytes on the
// line for the next command, so a test can count each damaged reply as exactly one failure:
// a flipped bit never makes a CR (an early end would leave the rest of the reply waiting),
// and a lost byte is never a checksum character (the body's last character could then stand
// in for it and pass by chance).
void SimReader::corrupt(std::string &bytes)
{
    const std::size_t size = bytes.size();
    std::uniform_int_distribution<int> kind(0, 2);
    std::uniform_int_distribution<int> bit(0, 7);
    switch (kind(m_random)) {
    case 0: {
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, size - 1)(m_random);
        const int flip = bit(m_random);
        auto damaged = static_cast<char>(bytes[at] ^ (1 << flip));
        if (static_cast<std::uint8_t>(damaged) == kCr)
            damaged = static_cast<char>(bytes[at] ^ (1 << ((flip + 1) % 8)));
        bytes[at] = damaged;
        note("reply damaged: one bit flipped");
        break;
    }
    case 1: {
        // The LF, a body byte or the CR: positions 0 .. size - 4, and size - 1.
        std::size_t at = std::uniform_int_distribution<std::size_t>(0, size - 3)(m_random);
        if (at == size - 3)
            at = size - 1;
        bytes.erase(at, 1);
        note("reply damaged: one byte lost");
        break;
    }
    default:
        bytes.resize(std::uniform_int_distribution<std::size_t>(0, size - 1)(m_random));
        note("reply damaged: cut short");
        break;
    }
}

void SimReader::flushNoise()
{
    if (m_noise.empty())
        return;
    note("rx " + describeBytes(m_noise) + " ignored: outside a frame");
    m_noise.clear();
}

void SimReader::note(std::string_view text)
{
    if (m_note)
        m_note(text);
}

} // namespace kt::sim
