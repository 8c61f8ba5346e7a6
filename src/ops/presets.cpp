#include "link/line_table.h"
#include "ops_common.h"
#include "set_exchange.h"
#include "text/text_table.h"

#include <array>

namespace kt::ops
{

namespace
{

constexpr int kFactoryLine = link::kFactoryLineSettingsIndex;
constexpr int kFastLine = link::lineSettingsIndexOf("115200,e,8,1");
static_assert(link::isLineSettingsIndex(kFastLine));

struct PresetValues {
    int baudRate; // cmbBaudRate
    int mode;     // cmbMode
    int wiegand;  // cmbWiegand
    int rs485;    // cmbRS485
    int openingText;
    const char *openingSuffix;
    int okText;
    int errorText;
};

// In the order of Preset. The reader ID is always "01".
constexpr std::array<PresetValues, 5> kPresets = {{
    {kFactoryLine, 0, 0, 1, kTextDefaultWiegand, " 26", kTextDefaultWiegand26Ok,
     kTextDefaultWiegand26Error},
    {kFactoryLine, 0, 1, 1, kTextDefaultWiegand, " 34", kTextDefaultWiegand34Ok,
     kTextDefaultWiegand34Error},
    {kFactoryLine, 0, 2, 1, kTextDefaultWiegand, " 42", kTextDefaultWiegand42Ok,
     kTextDefaultWiegand42Error},
    {kFactoryLine, 1, 0, 0, kTextDefaultRS485, " 24", kTextDefaultRS485_24Ok,
     kTextDefaultRS485_24Error},
    {kFastLine, 1, 0, 1, kTextDefaultRS485, " 115200", kTextDefaultRS485_115200Ok,
     kTextDefaultRS485_115200Error},
}};

} // namespace

Result applyPreset(Context &ctx, Preset preset)
{
    const auto at = static_cast<std::size_t>(preset);
    if (at >= kPresets.size())
        return {};
    const PresetValues &values = kPresets[at];
    ReaderView &view = ctx.view;

    SetExchange exchange;
    // The lists end up showing what is sent; the stored line settings are left as they are.
    exchange.preparation = [&view, &values] {
        view.setIdPosition(1);
        view.selectItem(List::BaudRate, values.baudRate);
        view.selectItem(List::Mode, values.mode);
        view.selectItem(List::Wiegand, values.wiegand);
        view.selectItem(List::RS485, values.rs485);
    };
    exchange.openingMessage = [&values] {
        return text::localText(values.openingText) + values.openingSuffix;
    };
    exchange.setCommands = {setIdFixed("01"), setModeFromLists(view),
                            setLineSettingsFromList(view)};
    exchange.okText = values.okText;
    exchange.errorText = values.errorText;
    return runSetExchange(ctx, exchange);
}

} // namespace kt::ops
