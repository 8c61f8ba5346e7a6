#include "link/standard_descriptors.h"

namespace kt::link
{

void reserveStandardDescriptors() {}

} // namespace kt::link
