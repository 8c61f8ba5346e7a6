#include "app/beeper.h"
#include "ops/operations.h"
#include "tone.h"

#include <memory>

namespace kt::cli
{

std::function<void(bool succeeded)> makeTone()
{
    std::shared_ptr<app::Beeper> beeper = app::makeSystemBeeper();
    return [beeper](bool succeeded) {
        beeper->beep(succeeded ? ops::kSuccessBeepHz : ops::kFailureBeepHz, ops::kBeepMs);
    };
}

} // namespace kt::cli
