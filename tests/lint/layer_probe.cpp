// Compiled against one of the lower libraries only, this must not build: the window's and the
// tools' headers are out of their reach. The test passes when the compiler says it cannot find
// the header named by KT_PROBE_HEADER.
#include KT_PROBE_HEADER
