// Facts about the account the process runs under, and the system's elevation
// policy. On Windows they come from the access token (the thread's when it
// impersonates) and the UAC policy value EnableLUA. POSIX mapping: the
// effective user id 0 is an elevated administrator; an administrator account
// is uid 0 or a member of an administrative group ("sudo", "wheel",
// "admin"); the elevation prompt exists when pkexec does.
#pragma once

#include <string>

namespace kivo {

class IAccountFacts {
public:
    virtual ~IAccountFacts() = default;
    // The system knows elevated and limited tokens (Windows 6.0 or later).
    virtual bool ElevationSupported() = 0;
    // The effective token is an enabled member of the Administrators group.
    virtual bool TokenIsEnabledAdministrator() = 0;
    // The Administrators group is among the token's groups in any state.
    // Raises EOSError when the group list cannot be read.
    virtual bool TokenHasAdministratorsGroup() = 0;
    // The token is elevated.
    virtual bool TokenIsElevated() = 0;
    // The system policy turns the interactive elevation prompt on.
    virtual bool ElevationPromptEnabled() = 0;
};

// The facts in force: the system's, unless a stand-in was installed.
IAccountFacts& AccountFacts();
// Installs a stand-in (nullptr restores the system's); returns the previous one.
IAccountFacts* SetAccountFacts(IAccountFacts* Facts);

// Full path of the system's elevation prompt program (pkexec), or empty;
// always empty on Windows, whose prompt is the shell's "runas" verb.
std::string ElevationPromptProgram();

} // namespace kivo
