#pragma once

#include "reader_view.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kt::link
{
class ReaderLink;
}
namespace kt::settings
{
struct AppSettings;
class SettingsStore;
} // namespace kt::settings

namespace kt::ops
{

constexpr int kSuccessBeepHz = 1000;
constexpr int kFailureBeepHz = 300;
constexpr int kBeepMs = 300;

// The card reading loop: not running, polling, or asked to stop and finishing its pass.
enum class CardLoop { Idle, Running, Stopping };

// The state the window owns and the operations read and write.
struct ReaderState {
    bool readerFound = false; // set only by a scan that read the version and the mode
    CardLoop cardLoop = CardLoop::Idle;
};

// A card the reading loop has just shown in pnCardID.
struct Card {
    std::string number; // the card field of the reply, as received (hex digits)
    std::string shown;  // the text pnCardID shows for it
};

// What every operation works with; all of it belongs to the caller.
struct Context {
    link::ReaderLink &link;
    ReaderView &view;
    settings::AppSettings &settings;
    ReaderState &state;
    // Where a scan saves the port and line settings it found; nullptr: nothing is saved.
    settings::SettingsStore *store = nullptr;
    // Called for every card the reading loop shows; may be empty.
    std::function<void(const Card &card)> cardShown = {};
};

// How an operation ended.
enum class Outcome {
    Ok,
    ReaderNotFound, // no reader answered the identity query
    ReaderFailed,   // the reader answered, but a later exchange failed
    PortNotOpened,  // the port the operation needed could not be opened
    Refused,        // refused before anything was sent
};

// What a successful scan read from the reader.
struct ReaderInfo {
    int port = 0;
    int lineSettingsIndex = 0; // into the line-settings list
    std::string serialNumber;
    std::string version;
    std::string readerId; // the two characters of the ID field
    // The mode reply's digits: output mode, Wiegand format, RS485 format (each 0 to 9).
    int outputMode = 0;
    int wiegandFormat = 0;
    int rs485Format = 0;
};

// What an operation did. The window shows it as it goes and needs none of this; a front end
// without a screen builds its report from it.
struct Result {
    Outcome outcome = Outcome::Refused;
    // The number of the text the outcome put into pnMsg (text_ids.h); -1: pnMsg kept what it
    // showed.
    int textId = -1;
    // What pnMsg was given last during the operation; empty when it was given nothing.
    std::string message;
    std::optional<ReaderInfo> reader; // a scan that read the reader's info
    bool saved = false;               // a scan that saved where it found the reader
    bool saveFailed = false;          // a scan whose save of where it found the reader failed

    bool ok() const { return outcome == Outcome::Ok; }
};

// "Scan Reader": finds the reader on the stored port or by the sweep, saves where the sweep
// found it, reads its serial number, ID, version and mode into the view.
Result scanReader(Context &ctx);

// The three parameter commands.
Result setReaderId(Context &ctx);
Result setLineSettings(Context &ctx);
Result setOutputMode(Context &ctx);

// The five quick presets.
enum class Preset { FactoryW26, Wiegand34, Wiegand42, RS485Wiegand, RS485Fast };
Result applyPreset(Context &ctx, Preset preset);

// "Read Card" / "Cancel Read Card": starts the card reading loop, or asks a running one to
// stop. The loop runs inside the starting call, pumping the view's events, and that call
// returns how the loop ended. A stop request returns Ok at once. A click while a stop is
// pending is refused, so the running loop keeps its port.
Result readCardClick(Context &ctx);

} // namespace kt::ops
