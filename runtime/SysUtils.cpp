#include "runtime/SysUtils.h"

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/OsClock.h"
#include "runtime/OsLocale.h"
#include "runtime/SysMessages.h"

namespace kivo {

const char* const SOSError = "Systemfehler.  Code: %d.\r\n%s%s";
const char* const SUnkOSError = "Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen";
const char* const SAssertionFailed = "%s (%s, Zeile %d)";
const char* const SInvalidCharsInPath = "Ungültige Zeichen im Pfad";

std::string FormatV(const char* Fmt, va_list Args) {
    char Small[256];
    va_list Copy;
    va_copy(Copy, Args);
    int N = std::vsnprintf(Small, sizeof Small, Fmt, Copy);
    va_end(Copy);
    if (N < 0) return std::string();
    if (static_cast<size_t>(N) < sizeof Small) return std::string(Small, static_cast<size_t>(N));
    std::string Result(static_cast<size_t>(N) + 1, '\0');
    std::vsnprintf(Result.data(), Result.size(), Fmt, Args);
    Result.resize(static_cast<size_t>(N));
    return Result;
}

std::string Format(const char* Fmt, ...) {
    va_list Args;
    va_start(Args, Fmt);
    std::string Result = FormatV(Fmt, Args);
    va_end(Args);
    return Result;
}

static std::string OSErrorMessage(uint32_t Code) {
    if (Code == 0) return SUnkOSError;
    std::string Text = TrimSystemText(SysErrorMessage(Code));
    return Format(SOSError, static_cast<int>(Code), Text.c_str(), "");
}

EOSError::EOSError(uint32_t Code) : Exception(OSErrorMessage(Code)), ErrorCode(Code) {}

EInOutError::EInOutError(int Code) : Exception(ErrnoMessage(Code)), ErrorCode(Code) {}

void AssertFailed(const std::string& Message, const char* FileName, int Line) {
    throw EAssertionFailed(Format(SAssertionFailed, Message.c_str(), FileName, Line));
}

static thread_local uint32_t LastError = 0;

uint32_t GetLastError() {
    return LastError;
}
void SetLastError(uint32_t Code) {
    LastError = Code;
}

void RaiseLastOSError() {
    RaiseLastOSError(GetLastError());
}
void RaiseLastOSError(uint32_t Code) {
    throw EOSError(Code);
}

uint32_t WinErrorFromErrno(int Err) {
    switch (Err) {
    case 0: return 0;
    case ENOENT: return 2;  // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3; // ERROR_PATH_NOT_FOUND
    case EMFILE:
    case ENFILE: return 4; // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
    case EISDIR: return 5; // ERROR_ACCESS_DENIED
    case EBADF: return 6;  // ERROR_INVALID_HANDLE
    case ENOMEM: return 8; // ERROR_NOT_ENOUGH_MEMORY
    case EROFS: return 19; // ERROR_WRITE_PROTECT
    case ETXTBSY:
    case EBUSY: return 32;         // ERROR_SHARING_VIOLATION
    case EWOULDBLOCK: return 33;   // ERROR_LOCK_VIOLATION
    case EEXIST: return 80;        // ERROR_FILE_EXISTS
    case EINVAL: return 87;        // ERROR_INVALID_PARAMETER
    case ENOSPC: return 112;       // ERROR_DISK_FULL
    case ENOTEMPTY: return 145;    // ERROR_DIR_NOT_EMPTY
    case ENAMETOOLONG: return 206; // ERROR_FILENAME_EXCED_RANGE
    case ENOEXEC: return 193;      // ERROR_BAD_EXE_FORMAT
    case ECANCELED: return 1223;   // ERROR_CANCELLED
    case EIO: return 1117;         // ERROR_IO_DEVICE
    default: return 31;            // ERROR_GEN_FAILURE
    }
}

uint32_t SetLastErrorFromErrno(int Err) {
    uint32_t Code = WinErrorFromErrno(Err);
    SetLastError(Code);
    return Code;
}

uint64_t GetTickCount64() {
    return os::MonotonicMilliseconds();
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(GetTickCount64());
}

void Sleep(uint32_t Milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

const char* BoolToStr(bool Value) {
    return Value ? "True" : "False";
}

// The separator is read once from the user's numeric locale; tests set it.
static char& DecimalSeparatorSlot() {
    static char Separator = os::LocaleDecimalSeparator('.');
    return Separator;
}

char DecimalSeparator() {
    return DecimalSeparatorSlot();
}

char DateSeparator() {
    static const char Separator = os::LocaleDateSeparator('/');
    return Separator;
}

char TimeSeparator() {
    static const char Separator = os::LocaleTimeSeparator(':');
    return Separator;
}
void SetDecimalSeparator(char Value) {
    DecimalSeparatorSlot() = Value;
}

std::string FormatFixed2(double Value) {
    // snprintf follows the C locale of the process, which may be anything;
    // format in the "C" form and put the user's separator in.
    std::string Text = Format("%.2f", Value);
    size_t Dot = Text.find_first_of(".,");
    if (Dot != std::string::npos) Text[Dot] = DecimalSeparator();
    return Text;
}

} // namespace kivo
