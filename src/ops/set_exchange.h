#pragma once

// The one exchange behind the parameter commands and the presets; not part of the ops
// interface.

#include "operations.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt::ops
{

// A set command, built when it is about to be sent: from the window's controls as they stand
// then and from the serial number of the identity reply of the same try. nullopt: the
// controls hold nothing that makes a well-formed command.
using SetCommand = std::function<std::optional<std::string>(std::string_view serialNumber)>;

struct SetExchange {
    std::function<void()> preparation;           // after the gate, before the opening message
    std::function<std::string()> openingMessage; // built after the preparation
    std::vector<SetCommand> setCommands;         // sent in this order after "A00B", every try
    std::function<void()> successAction;         // after the last set command of a good try
    int okText = 0;
    int errorText = 0;
};

// Disables the window (without the busy blink), opens the stored port, makes at most 2 tries
// of the identity query and the set commands, closes the port and shows the outcome. Blocks;
// only the transactions handle window events.
Result runSetExchange(Context &ctx, const SetExchange &exchange);

// Set commands built from the controls.
SetCommand setIdFromPanel(ReaderView &view); // "A00C" + serial + the caption of pnID
SetCommand setIdFixed(std::string readerId); // "A00C" + serial + readerId
SetCommand setModeFromLists(ReaderView &view);
SetCommand setLineSettingsFromList(ReaderView &view);

} // namespace kt::ops
