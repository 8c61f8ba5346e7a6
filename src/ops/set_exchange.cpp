#include "operations.h"

namespace kt::ops {

void setReaderId(Context &) {}
void setLineSettings(Context &) {}
void setOutputMode(Context &) {}
void applyPreset(Context &, Preset) {}

} // namespace kt::ops
