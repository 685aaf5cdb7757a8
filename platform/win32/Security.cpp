// Account facts from the access token and the UAC policy from the registry.
// The thread's own token counts when it impersonates, else the process's.
#include "platform/Security.h"

#include <vector>
#include <windows.h>

#include "platform/SystemServices.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

constexpr DWORD ErrorNoToken = 1008; // ERROR_NO_TOKEN

// The Administrators alias (S-1-5-32-544), freed with the object.
class TAdministratorsSid {
public:
    // Raises the OS error when the SID cannot be built.
    TAdministratorsSid() {
        SID_IDENTIFIER_AUTHORITY Nt = SECURITY_NT_AUTHORITY;
        if (!::AllocateAndInitializeSid(&Nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                        DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &FSid))
            RaiseLastOSError(::GetLastError());
    }
    ~TAdministratorsSid() { ::FreeSid(FSid); }
    TAdministratorsSid(const TAdministratorsSid&) = delete;
    TAdministratorsSid& operator=(const TAdministratorsSid&) = delete;
    PSID Get() const { return FSid; }

private:
    PSID FSid = nullptr;
};

// The token queries read: the thread's when it impersonates, else the
// process's; closed with the object. Valid() is false when there is none.
class TQueryToken {
public:
    TQueryToken() {
        if (::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &FToken)) return;
        FToken = nullptr;
        if (::GetLastError() == ErrorNoToken &&
            !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &FToken))
            FToken = nullptr;
    }
    ~TQueryToken() {
        if (FToken != nullptr) ::CloseHandle(FToken);
    }
    TQueryToken(const TQueryToken&) = delete;
    TQueryToken& operator=(const TQueryToken&) = delete;
    bool Valid() const { return FToken != nullptr; }
    HANDLE Get() const { return FToken; }

private:
    HANDLE FToken = nullptr;
};

// The version the system reports to this process, read once.
bool IsVersion6OrLater() {
    static const bool Later = [] {
        OSVERSIONINFOW Info{};
        Info.dwOSVersionInfoSize = sizeof Info;
        return ::GetVersionExW(&Info) && Info.dwMajorVersion >= 6;
    }();
    return Later;
}

class TSystemAccountFacts final : public IAccountFacts {
public:
    bool ElevationSupported() override { return IsVersion6OrLater(); }

    bool TokenIsEnabledAdministrator() override {
        TAdministratorsSid Admins;
        BOOL Member = FALSE;
        return ::CheckTokenMembership(nullptr, Admins.Get(), &Member) && Member;
    }

    bool TokenHasAdministratorsGroup() override {
        TQueryToken Token;
        if (!Token.Valid()) return false;
        TAdministratorsSid Admins;
        DWORD Size = 0;
        if (::GetTokenInformation(Token.Get(), TokenGroups, nullptr, 0, &Size) ||
            ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            RaiseLastOSError(::GetLastError());
        // TOKEN_GROUPS holds pointers: the buffer is aligned for them.
        std::vector<uintptr_t> Buffer((Size + sizeof(uintptr_t) - 1) / sizeof(uintptr_t));
        if (!::GetTokenInformation(Token.Get(), TokenGroups, Buffer.data(), Size, &Size))
            RaiseLastOSError(::GetLastError());
        const auto* Groups = reinterpret_cast<const TOKEN_GROUPS*>(Buffer.data());
        for (DWORD I = 0; I < Groups->GroupCount; ++I)
            if (::EqualSid(Admins.Get(), Groups->Groups[I].Sid)) return true;
        return false;
    }

    bool TokenIsElevated() override {
        TQueryToken Token;
        if (!Token.Valid()) return false;
        TOKEN_ELEVATION Elevation{};
        DWORD Size = 0;
        return ::GetTokenInformation(Token.Get(), TokenElevation, &Elevation, sizeof Elevation,
                                     &Size) &&
               Elevation.TokenIsElevated != 0;
    }

    // The policy value EnableLUA; missing, unreadable or not a 32-bit
    // number means the prompt is off.
    bool ElevationPromptEnabled() override {
        HKEY Key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0,
                            KEY_READ, &Key) != ERROR_SUCCESS)
            return false;
        DWORD Type = 0;
        DWORD Value = 0;
        DWORD Size = sizeof Value;
        const LONG Rc = ::RegQueryValueExW(Key, L"EnableLUA", nullptr, &Type,
                                           reinterpret_cast<BYTE*>(&Value), &Size);
        ::RegCloseKey(Key);
        return Rc == ERROR_SUCCESS && Type == REG_DWORD && Size == sizeof Value && Value != 0;
    }
};

} // namespace

IAccountFacts& SystemAccountFacts() {
    static TSystemAccountFacts Facts;
    return Facts;
}

// The prompt is part of the system and reached through the shell's "runas"
// verb: there is no program of its own to name.
std::string ElevationPromptProgram() {
    return std::string();
}

} // namespace kivo
