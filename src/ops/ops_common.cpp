#include "ops_common.h"

#include "link/line_table.h"
#include "operations.h"

namespace kt::ops
{

void showMessage(ReaderView &view, Result &result, std::string_view text)
{
    view.setPanelText(Panel::Msg, text);
    result.message = std::string(text);
}

void beepFor(ReaderView &view, Outcome outcome)
{
    view.beep(outcome == Outcome::Ok ? kSuccessBeepHz : kFailureBeepHz, kBeepMs);
}

void showOutcome(ReaderView &view, Result &result, Outcome outcome)
{
    result.outcome = outcome;
    view.setLamp(Lamp::Comm, outcome == Outcome::Ok ? Colour::Yellow : Colour::Red);
    beepFor(view, outcome);
}

void showOutcome(ReaderView &view, Result &result, Outcome outcome, int textId,
                 std::optional<std::string_view> text)
{
    result.outcome = outcome;
    result.textId = textId;
    view.setLamp(Lamp::Comm, outcome == Outcome::Ok ? Colour::Yellow : Colour::Red);
    showMessage(view, result, text ? std::string(*text) : text::localText(textId));
    beepFor(view, outcome);
}

int usableLineSettingsIndex(int storedIndex)
{
    return link::isLineSettingsIndex(storedIndex) ? storedIndex : link::kFactoryLineSettingsIndex;
}

} // namespace kt::ops
