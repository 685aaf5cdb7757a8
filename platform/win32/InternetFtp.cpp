// The FTP half of the Internet layer over the system's Internet library:
// connections logged in at once, directories, listings and files. Names are
// checked before anything is sent; a connection with an open file refuses
// other calls, as the library does.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/FtpFind.h"
#include "platform/Internet.h"
#include "platform/win32/FtpNames.h"
#include "platform/win32/InternetHandles.h"
#include "platform/win32/WinInetCalls.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

namespace kivo {

class TFtpConnect : public TInternetHandle {
public:
    TFtpConnect() : TInternetHandle(hkFtpConnect) {}
    ~TFtpConnect() override;
    void CloseSystemHandles() override {
        if (System != nullptr) wininet::Close(System);
        System = nullptr;
    }
    void* System = nullptr;
    TRequest* OpenFile = nullptr; // the file open through it, if any
};

TFtpConnect::~TFtpConnect() {
    if (OpenFile != nullptr) OpenFile->FtpOwner = nullptr;
    CloseSystemHandles();
}

void ForgetOpenFile(TFtpConnect* Connect) {
    Connect->OpenFile = nullptr;
}

namespace {

class TFtpFind : public TInternetHandle {
public:
    TFtpFind() : TInternetHandle(hkFtpFind) {}
    TFtpFindList List;
};

// A connection that can take a command now.
TFtpConnect* ReadyConnection(HINTERNET Connect) {
    return ReadyFtpConnection(Lookup<TFtpConnect>(Connect, hkFtpConnect));
}

// Runs one blocking call of the library on the connection.
bool Run(TFtpConnect& C, std::function<bool(void* System)> Call) {
    void* System = C.System;
    TBusyGuard Guard(&C);
    return RunBlocking(C, C.Owner->ReceiveTimeoutMs,
                       [System, Call = std::move(Call)](uint32_t& Code) {
                           const bool Ok = Call(System);
                           if (!Ok) Code = wininet::LastError();
                           return Ok;
                       }) == 0;
}

// A command on a path: refused unsent when the path could smuggle a second
// command onto the control connection.
bool PathCall(HINTERNET Connect, const std::string& Path,
              bool (*Call)(wininet::THandle, const std::u16string&)) {
    TFtpConnect* C = ReadyConnection(Connect);
    if (C == nullptr) return false;
    if (!SafeFtpText(Path) || Path.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return false;
    }
    const std::u16string Wide = FtpWireName(Path);
    return Run(*C, [Call, Wide](void* System) { return Call(System, Wide); });
}

// Runs Open, a call of the library that makes a handle, on a worker thread
// while Handle waits. A handle that arrives after the wait was given up is
// closed by the worker. Null, with the error set, when the call failed or
// the wait ended first.
void* OpenOnWorker(TInternetHandle& Handle, uint32_t TimeoutMs, std::function<void*()> Open) {
    struct TResult {
        std::mutex M;
        void* System = nullptr;
        bool Abandoned = false;
    };
    auto Result = std::make_shared<TResult>();
    const bool Ok =
        RunBlocking(Handle, TimeoutMs, [Result, Open = std::move(Open)](uint32_t& Code) {
            void* H = Open();
            if (H == nullptr) {
                Code = wininet::LastError();
                return false;
            }
            std::lock_guard<std::mutex> Lock(Result->M);
            if (Result->Abandoned) {
                wininet::Close(H);
                return false;
            }
            Result->System = H;
            return true;
        }) == 0;
    std::lock_guard<std::mutex> Lock(Result->M);
    Result->Abandoned = true;
    if (Ok) return Result->System;
    // The handle came just as the wait ended: nobody will use it.
    if (Result->System != nullptr) wininet::Close(Result->System);
    return nullptr;
}

// The listing as the library read it, in the entries the layer hands out.
std::vector<TFtpListEntry> ListingEntries(std::vector<wininet::TFindEntry>& Found) {
    std::vector<TFtpListEntry> Entries;
    Entries.reserve(Found.size());
    for (const wininet::TFindEntry& F : Found) {
        TFtpListEntry E;
        E.Name = FtpNameFromWire(F.Name);
        E.IsDirectory = F.IsDirectory;
        E.Size = F.IsDirectory ? 0 : F.Size;
        E.FileTime = F.WriteTime;
        Entries.push_back(std::move(E));
    }
    return Entries;
}

// The size the server gives for Name ("213 <size>"); UINT64_MAX when it
// gives none.
uint64_t RemoteSize(TFtpConnect& C, const std::string& Name) {
    auto Reply = std::make_shared<std::string>();
    const std::u16string Command = u"SIZE " + FtpWireName(Name);
    if (!Run(C, [Command, Reply](void* System) {
            return wininet::FtpSendCommand(System, Command, *Reply);
        }))
        return UINT64_MAX;
    const size_t P = Reply->find("213 ");
    if (P == std::string::npos) return UINT64_MAX;
    uint64_t Size = 0;
    size_t I = P + 4;
    if (I >= Reply->size() || (*Reply)[I] < '0' || (*Reply)[I] > '9') return UINT64_MAX;
    for (; I < Reply->size() && (*Reply)[I] >= '0' && (*Reply)[I] <= '9'; ++I)
        Size = Size * 10 + static_cast<uint64_t>((*Reply)[I] - '0');
    return Size;
}

} // namespace

HINTERNET FtpConnect(TSession& S, const std::string& ServerName, uint16_t ServerPort,
                     const std::string& UserName, const std::string& Password, uint32_t Flags) {
    if (!ValidFtpServerName(ServerName)) {
        SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
        return nullptr;
    }
    if (!SafeFtpText(UserName) || !SafeFtpText(Password)) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return nullptr;
    }
    const bool Named = !UserName.empty() && !Password.empty();
    const std::u16string Server = Utf8ToUtf16(ServerName);
    const std::u16string User = Named ? FtpWireName(UserName) : u"";
    const std::u16string Secret = Named ? FtpWireName(Password) : u"";
    const uint16_t Port =
        ServerPort == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_FTP_PORT : ServerPort;
    const uint32_t Passive = Flags & INTERNET_FLAG_PASSIVE;

    auto Owned = std::make_unique<TFtpConnect>();
    TFtpConnect* C = Owned.get();
    Adopt(S, Owned.release());
    // The library logs in here.
    void* Session = S.System;
    bool Ok = false;
    {
        TBusyGuard Guard(C);
        C->System = OpenOnWorker(*C, S.ConnectTimeoutMs + S.ReceiveTimeoutMs, [=] {
            return wininet::Connect(Session, Server, Port, User, Secret, INTERNET_SERVICE_FTP,
                                    Passive);
        });
        Ok = C->System != nullptr && !C->ClosePending;
        if (C->System != nullptr && !Ok) SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
        if (!Ok) C->ClosePending = true; // released by the guard
    }
    return Ok ? C : nullptr;
}

bool FtpGetCurrentDirectoryW(HINTERNET Connect, std::string& Directory) {
    TFtpConnect* C = ReadyConnection(Connect);
    if (C == nullptr) return false;
    auto Wide = std::make_shared<std::u16string>();
    if (!Run(*C, [Wide](void* System) { return wininet::FtpCurrentDirectory(System, *Wide); }))
        return false;
    Directory = FtpNameFromWire(*Wide);
    return true;
}

bool FtpSetCurrentDirectoryW(HINTERNET Connect, const std::string& Directory) {
    return PathCall(Connect, Directory, wininet::FtpChangeDirectory);
}

bool FtpCreateDirectoryW(HINTERNET Connect, const std::string& Directory) {
    return PathCall(Connect, Directory, wininet::FtpMakeDirectory);
}

bool FtpDeleteFileW(HINTERNET Connect, const std::string& FileName) {
    return PathCall(Connect, FileName, wininet::FtpRemoveFile);
}

HINTERNET FtpFindFirstFileW(HINTERNET Connect, const std::string& SearchFile,
                            WIN32_FIND_DATAW& FindData, uint32_t /*Flags*/, uintptr_t /*Context*/) {
    TFtpConnect* C = ReadyConnection(Connect);
    if (C == nullptr) return nullptr;
    TFtpSearch Search;
    if (!SplitFtpSearch(SearchFile, Search)) return nullptr;
    const std::u16string Folder = FtpWireName(Search.Folder);
    auto Found = std::make_shared<std::vector<wininet::TFindEntry>>();
    if (!Run(*C,
             [Folder, Found](void* System) { return wininet::FtpList(System, Folder, *Found); }))
        return nullptr;
    auto Find = std::make_unique<TFtpFind>();
    Find->List = MatchingFtpEntries(ListingEntries(*Found), Search.Pattern);
    if (!TakeNextFtpEntry(Find->List, FindData)) return nullptr;
    TFtpFind* Raw = Find.release();
    Adopt(*C->Owner, Raw);
    return Raw;
}

bool InternetFindNextFileW(HINTERNET Find, WIN32_FIND_DATAW& FindData) {
    TFtpFind* F = Lookup<TFtpFind>(Find, hkFtpFind);
    return F != nullptr && TakeNextFtpEntry(F->List, FindData);
}

HINTERNET FtpOpenFileW(HINTERNET Connect, const std::string& FileName, uint32_t Access,
                       uint32_t Flags, uintptr_t /*Context*/) {
    TFtpConnect* C = ReadyConnection(Connect);
    if (C == nullptr) return nullptr;
    if (!SafeFtpText(FileName) || FileName.empty() ||
        (Access != GENERIC_READ_ACCESS && Access != GENERIC_WRITE_ACCESS)) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return nullptr;
    }
    const bool Write = Access == GENERIC_WRITE_ACCESS;
    const uint32_t Type =
        (Flags & FTP_TRANSFER_TYPE_ASCII) != 0 && (Flags & FTP_TRANSFER_TYPE_BINARY) == 0
            ? FTP_TRANSFER_TYPE_ASCII
            : FTP_TRANSFER_TYPE_BINARY;
    const uint64_t Size = Write ? UINT64_MAX : RemoteSize(*C, FileName);
    const std::u16string Name = FtpWireName(FileName);
    void* Connection = C->System;
    TBusyGuard Guard(C);
    void* System = OpenOnWorker(*C, C->Owner->ReceiveTimeoutMs,
                                [=] { return wininet::FtpOpen(Connection, Name, Access, Type); });
    if (System != nullptr && C->ClosePending) {
        wininet::Close(System);
        System = nullptr;
        SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    }
    if (System == nullptr) return nullptr;
    auto R = std::make_unique<TRequest>();
    R->System = System;
    R->FtpOwner = C;
    R->FtpWrite = Write;
    R->FtpBinary = Type == FTP_TRANSFER_TYPE_BINARY;
    R->FtpName = FileName;
    R->FtpSize = Size;
    C->OpenFile = R.get();
    TRequest* Raw = R.release();
    Adopt(*C->Owner, Raw);
    return Raw;
}

uint32_t FtpGetFileSize(HINTERNET File, uint32_t* FileSizeHigh) {
    TRequest* R = Lookup<TRequest>(File, hkRequest);
    const uint64_t Size = R != nullptr && R->FtpOwner != nullptr ? R->FtpSize : UINT64_MAX;
    if (FileSizeHigh != nullptr) *FileSizeHigh = static_cast<uint32_t>(Size >> 32);
    return static_cast<uint32_t>(Size);
}

bool CloseFtpFile(TRequest& R) {
    TFtpConnect* C = R.FtpOwner;
    const bool CheckSize = R.FtpWrite && R.FtpBinary && R.FailCode == 0 && C != nullptr;
    const uint64_t Sent = R.UpDone;
    const std::string Name = R.FtpName;
    uint32_t Failed = R.FailCode;
    // Closing the library's handle ends the transfer and reads the server's
    // answer to it.
    DestroyHandle(&R);
    if (Failed == 0 && CheckSize && C->OpenFile == nullptr) {
        const uint64_t Stored = RemoteSize(*C, Name);
        if (Stored != UINT64_MAX && Stored != Sent) Failed = ERROR_INTERNET_CONNECTION_ABORTED;
    }
    if (Failed != 0) {
        SetLastError(Failed);
        return false;
    }
    return true;
}

} // namespace kivo
