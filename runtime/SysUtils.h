// Runtime error classes, the thread's last-error value, printf-style formatting
// and the small system helpers every module shares.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <string>

namespace kivo {

// printf-style formatting into a std::string.
std::string Format(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* Fmt, va_list Args) __attribute__((format(printf, 1, 0)));

// Base class of every error object the program raises. The message is UTF-8.
class Exception : public std::exception {
public:
    explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string Value) { FMessage = std::move(Value); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// The silent abort: callers that catch errors to show them leave this one alone.
class EAbort : public Exception {
public:
    EAbort() : Exception("Vorgang abgebrochen") {}
    explicit EAbort(std::string Message) : Exception(std::move(Message)) {}
};

// An operating-system error carrying a Windows error code. The message is
// "Systemfehler.  Code: %d.\r\n%s%s" with the system text of the code, or the
// fixed text for code 0.
class EOSError : public Exception {
public:
    explicit EOSError(uint32_t Code);
    EOSError(uint32_t Code, std::string Message) : Exception(std::move(Message)), ErrorCode(Code) {}
    uint32_t ErrorCode = 0;
};

// A COM error carrying its HRESULT.
class EOleSysError : public Exception {
public:
    EOleSysError(std::string Message, int32_t Code)
        : Exception(std::move(Message)), ErrorCode(Code) {}
    int32_t ErrorCode = 0;
};

// The runtime's input/output error for failed file operations; the code is
// the operating system's (an errno value on POSIX systems).
class EInOutError : public Exception {
public:
    explicit EInOutError(int Code);
    EInOutError(int Code, std::string Message) : Exception(std::move(Message)), ErrorCode(Code) {}
    int ErrorCode = 0;
};

// Argument errors, including "Ungültige Zeichen im Pfad" for invalid paths.
class EArgumentException : public Exception {
public:
    using Exception::Exception;
};

// A contract check failed: "%s (%s, Zeile %d)".
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

extern const char* const SOSError;            // "Systemfehler.  Code: %d.\r\n%s%s"
extern const char* const SUnkOSError;         // text for an OS error with code 0
extern const char* const SAssertionFailed;    // "%s (%s, Zeile %d)"
extern const char* const SInvalidCharsInPath; // "Ungültige Zeichen im Pfad"

// Raises EAssertionFailed with the runtime's assertion format.
[[noreturn]] void AssertFailed(const std::string& Message, const char* FileName, int Line);

// Contract check: raises EAssertionFailed naming this source file and line.
#define KIVO_ASSERT(Cond, Message)                                                                 \
    do {                                                                                           \
        if (!(Cond)) ::kivo::AssertFailed((Message), __FILE_NAME__, __LINE__);                     \
    } while (0)

// The calling thread's last-error value (a Windows error code).
uint32_t GetLastError();
void SetLastError(uint32_t Code);

// Raises EOSError for GetLastError(), or for the given code.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(uint32_t Code);

// Maps an errno value to the nearest Windows error code (31 when none fits).
uint32_t WinErrorFromErrno(int Err);
// Sets the last-error value from errno and returns it.
uint32_t SetLastErrorFromErrno(int Err);

// Milliseconds since an arbitrary start, monotonic; the 32-bit form wraps.
uint32_t GetTickCount();
uint64_t GetTickCount64();
// Suspends the calling thread for at least Milliseconds; a signal does not cut it short.
void Sleep(uint32_t Milliseconds);

// "True" / "False", as booleans are shown to the user.
const char* BoolToStr(bool Value);

// The user's decimal separator (from the locale, settable for tests).
char DecimalSeparator();
void SetDecimalSeparator(char Value);
// The separators of the user's date and time formats ('/' and ':' when the
// locale gives none), read once.
char DateSeparator();
char TimeSeparator();
// Value formatted as "%.2f" with the user's decimal separator.
std::string FormatFixed2(double Value);

} // namespace kivo
