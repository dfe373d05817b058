#pragma once

// The memory this process has allocated and not given back, in KiB, or -1
// where the system does not tell: what grows when something leaks. Measured
// within the process, so that an emulator's own memory does not count.
// Apart from the tests because Windows' headers define RGB and more as
// macros.
long long allocatedKiB();
