#include "operations.h"

namespace kt::ops {

void scanReader(Context &) {}

} // namespace kt::ops
