// The process environment for tests: variables and the local time zone.
#pragma once

#include <optional>
#include <string>

namespace kivo::test {

// Sets Name to Value in this process's environment; nullopt removes it.
void SetEnvVar(const std::string& Name, const std::optional<std::string>& Value);

// Sets the local time zone (a TZ rule such as "CET-1CEST,M3.5.0,M10.5.0/3")
// for one test and restores the previous one afterwards. On Windows the zone
// is a system setting that a process cannot change: Applied() is false
// there, and the test skips.
class TScopedTimeZone {
public:
    explicit TScopedTimeZone(const char* Zone);
    ~TScopedTimeZone();
    TScopedTimeZone(const TScopedTimeZone&) = delete;
    TScopedTimeZone& operator=(const TScopedTimeZone&) = delete;
    bool Applied() const { return FApplied; }

private:
    std::optional<std::string> FOld;
    bool FApplied = false;
};

} // namespace kivo::test
