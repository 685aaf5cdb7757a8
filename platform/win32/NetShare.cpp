// Network shares through the system's network provider: a connection made
// with WNetAddConnection2W lets the file calls reach "\\server\share\..."
// with the credentials given, so files on a share open like local ones.
#include "platform/NetShare.h"

#include <cerrno>
#include <windows.h>
#include <winnetwk.h>

#include "platform/win32/FileStatus.h"
#include "runtime/SysUtils.h"
#include "runtime/win32/WideText.h"

namespace kivo {

namespace {

bool IsSeparator(char C) {
    return C == '\\' || C == '/';
}

// "\\server\share" with backslashes, as the network provider takes it.
std::wstring ShareName(const std::string& Name) {
    std::string Out = Name;
    for (char& C : Out)
        if (C == '/') C = '\\';
    while (Out.size() > 2 && Out.back() == '\\')
        Out.pop_back();
    return os::Utf8ToWide(Out);
}

// Whether Name is "\\server\share" and nothing more.
bool IsShareName(const std::string& Name) {
    if (!IsUncPath(Name)) return false;
    size_t P = 2;
    int Parts = 0;
    while (P < Name.size()) {
        const size_t Start = P;
        while (P < Name.size() && !IsSeparator(Name[P]))
            ++P;
        if (P > Start) ++Parts;
        while (P < Name.size() && IsSeparator(Name[P]))
            ++P;
    }
    return Parts == 2 && !IsSeparator(Name[2]);
}

class TLocalFile : public TReadableFile {
public:
    explicit TLocalFile(HANDLE Handle) : FHandle(Handle) {}
    ~TLocalFile() override { ::CloseHandle(FHandle); }
    TLocalFile(const TLocalFile&) = delete;
    TLocalFile& operator=(const TLocalFile&) = delete;

    int64_t Read(void* Buffer, int64_t Count) override {
        DWORD Done = 0;
        const DWORD Chunk = static_cast<DWORD>(Count < (1 << 30) ? Count : (1 << 30));
        if (!::ReadFile(FHandle, Buffer, Chunk, &Done, nullptr)) {
            errno = os::LastErrno();
            return -1;
        }
        return Done;
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        LARGE_INTEGER Distance, Result;
        Distance.QuadPart = Offset;
        const DWORD Method = Origin == soBeginning ? FILE_BEGIN
                             : Origin == soCurrent ? FILE_CURRENT
                                                   : FILE_END;
        if (!::SetFilePointerEx(FHandle, Distance, &Result, Method)) {
            errno = os::LastErrno();
            return -1;
        }
        return Result.QuadPart;
    }
    bool GetStatus(TFileStatus& Status) override { return FileStatusOfHandle(FHandle, Status); }
    bool IsSameFileAs(const std::string& LocalPath) override {
        TFileStatus Mine, Other;
        return GetStatus(Mine) && GetFileStatus(LocalPath, Other) && Mine.Device == Other.Device &&
               Mine.FileId == Other.FileId;
    }
    // No copy inside the system between two files here: the caller copies.
    THandle LocalHandle() const override { return -1; }

private:
    HANDLE FHandle;
};

} // namespace

bool IsUncPath(const std::string& Path) {
    return Path.size() >= 2 && IsSeparator(Path[0]) && IsSeparator(Path[1]);
}

uint32_t WNetAddConnection2W(const TNetResource& Resource, const std::string& Password,
                             const std::string& UserName, uint32_t Flags) {
    if (Resource.Type != RESOURCETYPE_DISK || !Resource.LocalName.empty() ||
        !IsShareName(Resource.RemoteName))
        return ERROR_BAD_NET_NAME;
    std::wstring Remote = ShareName(Resource.RemoteName);
    NETRESOURCEW Net{};
    Net.dwType = RESOURCETYPE_DISK;
    Net.lpRemoteName = Remote.data();
    const std::wstring Secret = os::Utf8ToWide(Password), User = os::Utf8ToWide(UserName);
    return ::WNetAddConnection2W(&Net, Password.empty() ? nullptr : Secret.c_str(),
                                 UserName.empty() ? nullptr : User.c_str(), Flags);
}

uint32_t WNetCancelConnection2W(const std::string& Name, uint32_t Flags, bool Force) {
    return ::WNetCancelConnection2W(ShareName(Name).c_str(), Flags, Force ? TRUE : FALSE);
}

std::unique_ptr<TReadableFile> OpenReadableFile(const std::string& Path, uint32_t& Error) {
    Error = 0;
    const HANDLE Handle = ::CreateFileW(os::ApiPath(Path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (Handle == INVALID_HANDLE_VALUE) {
        Error = ::GetLastError();
        return nullptr;
    }
    auto File = std::make_unique<TLocalFile>(Handle);
    TFileStatus Status;
    if (!File->GetStatus(Status) || Status.IsDirectory) {
        Error = WinErrorFromErrno(EISDIR); // a folder is no file to read
        return nullptr;
    }
    return File;
}

} // namespace kivo
