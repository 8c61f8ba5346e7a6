#include "operations.h"

namespace kt::ops {

void readCardClick(Context &) {}

} // namespace kt::ops
