// Windows has no pseudo-terminals: nothing runs, and the tests that need
// one skip themselves (see PtyAvailable).
#include "tests/common/TestPty.h"

namespace kivo::test {

TPtyResult RunOnPty(const std::function<int()>&, const TPtyDialog&) {
    return TPtyResult{};
}

bool PtyAvailable() {
    return false;
}

} // namespace kivo::test
