#include "tests/common/TestEnv.h"

#include <cstdlib>
#include <ctime>

namespace kivo::test {

void SetEnvVar(const std::string& Name, const std::optional<std::string>& Value) {
    if (Value)
        ::setenv(Name.c_str(), Value->c_str(), 1);
    else
        ::unsetenv(Name.c_str());
}

TScopedTimeZone::TScopedTimeZone(const char* Zone) {
    if (const char* Old = std::getenv("TZ")) FOld = Old;
    SetEnvVar("TZ", std::string(Zone));
    ::tzset();
    FApplied = true;
}

TScopedTimeZone::~TScopedTimeZone() {
    SetEnvVar("TZ", FOld);
    ::tzset();
}

} // namespace kivo::test
