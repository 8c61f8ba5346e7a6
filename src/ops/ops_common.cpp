#include "ops_common.h"

#include "operations.h"
#include "text/list_items.h"

namespace kt::ops
{

void showOutcome(ReaderView &view, bool success, std::optional<std::string_view> text)
{
    view.setLamp(Lamp::Comm, success ? Colour::Yellow : Colour::Red);
    if (text)
        view.setPanelText(Panel::Msg, *text);
    view.beep(success ? kSuccessBeepHz : kFailureBeepHz, kBeepMs);
}

int usableLineSettingsIndex(int storedIndex)
{
    return text::isLineSettingsIndex(storedIndex) ? storedIndex : text::kDefaultLineSettingsIndex;
}

} // namespace kt::ops
