#include "platform/Security.h"

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "platform/SystemServices.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

// Groups whose members may administer the system on the common distributions.
constexpr const char* AdminGroups[] = {"sudo", "wheel", "admin"};

bool IsExecutableFile(const std::string& Path) {
    return !Path.empty() && Path[0] == '/' && ::access(Path.c_str(), X_OK) == 0;
}

class TSystemAccountFacts final : public IAccountFacts {
public:
    bool ElevationSupported() override { return true; }
    bool TokenIsEnabledAdministrator() override { return ::geteuid() == 0; }
    bool TokenIsElevated() override { return ::geteuid() == 0; }
    bool ElevationPromptEnabled() override { return !ElevationPromptProgram().empty(); }

    bool TokenHasAdministratorsGroup() override {
        if (::getuid() == 0 || ::geteuid() == 0) return true;
        int Count = ::getgroups(0, nullptr);
        if (Count < 0) {
            SetLastErrorFromErrno(errno);
            RaiseLastOSError();
        }
        std::vector<gid_t> Groups(static_cast<size_t>(Count) + 1);
        Count = ::getgroups(Count, Groups.data());
        if (Count < 0) {
            SetLastErrorFromErrno(errno);
            RaiseLastOSError();
        }
        Groups.resize(static_cast<size_t>(Count));
        Groups.push_back(::getegid());
        for (const char* Name : AdminGroups) {
            // getgrnam_r with a growing buffer: group entries can be large.
            std::vector<char> Buffer(4096);
            group Entry{};
            group* Found = nullptr;
            int Rc;
            while ((Rc = ::getgrnam_r(Name, &Entry, Buffer.data(), Buffer.size(), &Found)) ==
                       ERANGE &&
                   Buffer.size() < (1u << 20))
                Buffer.resize(Buffer.size() * 2);
            if (Rc != 0 || Found == nullptr) continue;
            for (gid_t G : Groups)
                if (G == Found->gr_gid) return true;
        }
        return false;
    }
};

} // namespace

IAccountFacts& SystemAccountFacts() {
    static TSystemAccountFacts Facts;
    return Facts;
}

std::string ElevationPromptProgram() {
    // The prompt program is set-user-id root and lives in a system folder;
    // a copy found through the caller's PATH elsewhere is not trusted.
    for (std::string_view Dir : {"/usr/bin", "/bin", "/usr/local/bin"}) {
        std::string Path = std::string(Dir) + "/pkexec";
        if (IsExecutableFile(Path)) return Path;
    }
    return std::string();
}

} // namespace kivo
