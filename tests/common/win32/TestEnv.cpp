// The environment through the C runtime, which keeps getenv's copy and the
// system's in step.
#include "tests/common/TestEnv.h"

#include <cstdlib>

namespace kivo::test {

void SetEnvVar(const std::string& Name, const std::optional<std::string>& Value) {
    // An empty value removes the variable.
    ::_putenv_s(Name.c_str(), Value ? Value->c_str() : "");
}

// The local zone comes from the system's settings; nothing changes here.
TScopedTimeZone::TScopedTimeZone(const char*) {}

TScopedTimeZone::~TScopedTimeZone() = default;

} // namespace kivo::test
