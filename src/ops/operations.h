#pragma once

#include "reader_view.h"

#include <string>

namespace kt::link {
class ReaderLink;
}
namespace kt::settings {
struct AppSettings;
}

namespace kt::ops {

constexpr int kSuccessBeepHz = 1000;
constexpr int kFailureBeepHz = 300;
constexpr int kBeepMs = 300;

// The flags the window owns and the operations read and write.
struct ReaderState
{
    bool readerFound = false; // set only by a scan that read the version and the mode
    bool cardReading = false; // true while the card reading loop runs
    // true from a loop's start to its end; unlike cardReading it stays set while a stop
    // request waits for the loop to finish its pass.
    bool cardLoopRunning = false;
};

// What every operation works with; all of it belongs to the caller.
struct Context
{
    link::ReaderLink &link;
    ReaderView &view;
    settings::AppSettings &settings;
    ReaderState &state;
};

// "Scan Reader": finds the reader on the stored port or by the sweep, saves where the sweep
// found it, reads its serial number, ID, version and mode into the view.
void scanReader(Context &ctx);

// The three parameter commands.
void setReaderId(Context &ctx);
void setLineSettings(Context &ctx);
void setOutputMode(Context &ctx);

// The five quick presets.
enum class Preset { FactoryW26, Wiegand34, Wiegand42, RS485Wiegand, RS485Fast };
void applyPreset(Context &ctx, Preset preset);

// "Read Card" / "Cancel Read Card": starts the card reading loop, or asks a running one to
// stop. The loop runs inside the starting call, pumping the view's events. A click while a
// stop is pending is ignored, so the running loop keeps its port.
void readCardClick(Context &ctx);

} // namespace kt::ops
