// The test process's own memory, as /proc tells it.
#pragma once

namespace newsbar::test {

// Resident memory of this process, in KiB (VmRSS); -1 when it cannot be read.
long ResidentKb();

}  // namespace newsbar::test
