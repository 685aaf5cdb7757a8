// The parts of the Internet layer that make no system call, shared by the
// libcurl and the WinINet implementations.
#include "platform/InternetCommon.h"

#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/Internet.h"
#include "runtime/SysMessages.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

std::mutex& RegistryMutex() {
    static std::mutex M;
    return M;
}
std::unordered_set<TInternetHandle*>& Registry() {
    static std::unordered_set<TInternetHandle*> Set;
    return Set;
}

} // namespace

void Register(TInternetHandle* H) {
    std::lock_guard<std::mutex> Lock(RegistryMutex());
    Registry().insert(H);
}

void Unregister(TInternetHandle* H) {
    std::lock_guard<std::mutex> Lock(RegistryMutex());
    Registry().erase(H);
}

bool IsLive(TInternetHandle* H) {
    std::lock_guard<std::mutex> Lock(RegistryMutex());
    return H != nullptr && Registry().count(H) != 0;
}

bool KnownHandle(TInternetHandle* Handle) {
    if (IsLive(Handle)) return true;
    SetLastError(ERROR_INVALID_HANDLE_VALUE);
    return false;
}

bool HandleUsable(TInternetHandle* Handle) {
    if (!IsLive(Handle) || Handle->ClosePending || SessionHandle(*Handle)->ClosePending) {
        SetLastError(ERROR_INVALID_HANDLE_VALUE);
        return false;
    }
    return true;
}

TBusyGuard::TBusyGuard(TInternetHandle* AHandle)
    : FHandle(AHandle), FSession(SessionHandle(*AHandle)) {
    ++FHandle->Busy;
    if (FSession != FHandle) ++FSession->Busy;
}

TBusyGuard::~TBusyGuard() {
    --FHandle->Busy;
    if (FSession != FHandle) --FSession->Busy;
    if (FSession->ClosePending) {
        // Releasing the session releases every handle opened through it.
        if (FSession->Busy == 0) DestroyHandle(FSession);
        return;
    }
    if (FHandle->Busy == 0 && FHandle->ClosePending) DestroyHandle(FHandle);
}

bool InternetCloseHandle(HINTERNET Handle) {
    if (!IsLive(Handle) || Handle->ClosePending) {
        SetLastError(ERROR_INVALID_HANDLE_VALUE);
        return false;
    }
    if (Handle->Busy > 0) {
        // A call on this handle is waiting (we run inside a message handler
        // it called): it ends as cancelled and releases the handle.
        Handle->ClosePending = true;
        return true;
    }
    return ReleaseHandle(Handle);
}

bool TSessionSettings::SetOption(uint32_t Option, const void* Buffer, uint32_t BufferLength) {
    if (Option == INTERNET_OPTION_KIVO_CA_FILE) {
        CaFile.assign(static_cast<const char*>(Buffer), Buffer != nullptr ? BufferLength : 0);
        return true;
    }
    if (Option != INTERNET_OPTION_CONNECT_TIMEOUT && Option != INTERNET_OPTION_SEND_TIMEOUT &&
        Option != INTERNET_OPTION_RECEIVE_TIMEOUT && Option != INTERNET_OPTION_KIVO_INSECURE) {
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return false;
    }
    if (Buffer == nullptr || BufferLength < sizeof(uint32_t)) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return false;
    }
    uint32_t Value = 0;
    std::memcpy(&Value, Buffer, sizeof Value);
    if (Option == INTERNET_OPTION_KIVO_INSECURE) Insecure = Value != 0;
    if (Option == INTERNET_OPTION_CONNECT_TIMEOUT)
        ConnectTimeoutMs = Value != 0 ? Value : INTERNET_DEFAULT_CONNECT_TIMEOUT_MS;
    if (Option == INTERNET_OPTION_SEND_TIMEOUT)
        SendTimeoutMs = Value != 0 ? Value : INTERNET_DEFAULT_IO_TIMEOUT_MS;
    if (Option == INTERNET_OPTION_RECEIVE_TIMEOUT)
        ReceiveTimeoutMs = Value != 0 ? Value : INTERNET_DEFAULT_IO_TIMEOUT_MS;
    return true;
}

bool TSessionSettings::QueryTimeout(uint32_t Option, void* Buffer, uint32_t& BufferLength) const {
    uint32_t Value = 0;
    if (Option == INTERNET_OPTION_CONNECT_TIMEOUT)
        Value = ConnectTimeoutMs;
    else if (Option == INTERNET_OPTION_SEND_TIMEOUT)
        Value = SendTimeoutMs;
    else if (Option == INTERNET_OPTION_RECEIVE_TIMEOUT)
        Value = ReceiveTimeoutMs;
    else {
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return false;
    }
    return PutValue(&Value, sizeof Value, Buffer, BufferLength);
}

bool AccessTypeKnown(uint32_t AccessType) {
    if (AccessType == INTERNET_OPEN_TYPE_PRECONFIG || AccessType == INTERNET_OPEN_TYPE_DIRECT ||
        AccessType == INTERNET_OPEN_TYPE_PROXY)
        return true;
    SetLastError(ERROR_INVALID_PARAMETER_VALUE);
    return false;
}

bool HttpUrlScheme(const std::string& Url) {
    const std::string Scheme = SchemeOf(Url);
    if (Scheme == "http" || Scheme == "https") return true;
    SetLastError(Scheme.empty() ? ERROR_INTERNET_INVALID_URL : ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return false;
}

bool HttpConnectionUsable(uint32_t Service, const std::string& ServerName) {
    if (Service != INTERNET_SERVICE_HTTP) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return false;
    }
    if (!ServerName.empty() && ServerName.find_first_of("/\\@ \t\r\n") == std::string::npos)
        return true;
    SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
    return false;
}

bool RequestVerb(const std::string& Given, std::string& Verb) {
    Verb = Given.empty() ? std::string("GET") : Given;
    for (char Ch : Verb) {
        if (!((Ch >= 'A' && Ch <= 'Z') || (Ch >= 'a' && Ch <= 'z') || Ch == '-')) {
            SetLastError(ERROR_INVALID_PARAMETER_VALUE);
            return false;
        }
    }
    return true;
}

std::string RequestObject(const std::string& ObjectName) {
    return ObjectName.empty() || ObjectName[0] != '/' ? "/" + ObjectName : ObjectName;
}

std::vector<std::string> ExtraHeaderLines(const std::string& Headers) {
    std::vector<std::string> Lines;
    size_t P = 0;
    while (P < Headers.size()) {
        size_t E = Headers.find('\n', P);
        if (E == std::string::npos) E = Headers.size();
        std::string Line = Headers.substr(P, E - P);
        while (!Line.empty() && (Line.back() == '\r' || Line.back() == '\n'))
            Line.pop_back();
        if (!Line.empty() && Line.find('\0') == std::string::npos) Lines.push_back(Line);
        P = E + 1;
    }
    return Lines;
}

std::string UploadUrl(const std::string& Server, uint16_t Port, const std::string& Object) {
    std::string Host = Server;
    if (Host.find(':') != std::string::npos && Host.front() != '[') Host = "[" + Host + "]";
    return EscapeUrl("http://" + Host + ":" + std::to_string(Port) + Object);
}

TTransferStep TransferStep(bool StateOk, const void* Buffer, uint32_t Count) {
    if (!StateOk) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return tsFail;
    }
    if (Count == 0) return tsNothing;
    if (Buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return tsFail;
    }
    return tsMove;
}

std::string LowerAscii(std::string_view Text) {
    return AsciiLowerCase(Text);
}

std::string EscapeUrl(const std::string& Url) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string Out;
    Out.reserve(Url.size());
    for (unsigned char C : Url) {
        if (C <= 0x20 || C >= 0x7F || C == '"' || C == '<' || C == '>' || C == '`' || C == '{' ||
            C == '}' || C == '|' || C == '^' || C == '\\') {
            Out += '%';
            Out += Hex[C >> 4];
            Out += Hex[C & 15];
        } else {
            Out += static_cast<char>(C);
        }
    }
    return Out;
}

std::string SchemeOf(const std::string& Url) {
    size_t P = Url.find("://");
    return P == std::string::npos ? std::string() : LowerAscii(Url.substr(0, P));
}

bool ContentLengthReadable(const THeaderList& Headers) {
    const std::string* First = nullptr;
    for (const auto& [Name, Value] : Headers) {
        if (Name != "content-length") continue;
        if (Value.empty() || Value.size() > 18 ||
            Value.find_first_not_of("0123456789") != std::string::npos)
            return false;
        if (First != nullptr && *First != Value) return false;
        First = &Value;
    }
    return true;
}

bool TransferCodingsChunkedOnly(const THeaderList& Headers) {
    for (const auto& [Name, Value] : Headers) {
        if (Name != "transfer-encoding") continue;
        size_t P = 0;
        while (P <= Value.size()) {
            size_t E = Value.find(',', P);
            if (E == std::string::npos) E = Value.size();
            std::string Coding = LowerAscii(Trim(std::string_view(Value).substr(P, E - P)));
            if (Coding != "chunked") return false;
            P = E + 1;
        }
    }
    return true;
}

void PutUtf16(const std::string& Text, void* Buffer, uint32_t& BufferLength, bool& Ok) {
    std::u16string W = Utf8ToUtf16(Text);
    uint32_t Need = static_cast<uint32_t>((W.size() + 1) * sizeof(char16_t));
    if (Buffer == nullptr || BufferLength < Need) {
        BufferLength = Need;
        SetLastError(ERROR_INSUFFICIENT_BUFFER_VALUE);
        Ok = false;
        return;
    }
    std::memcpy(Buffer, W.c_str(), Need);
    BufferLength = Need - static_cast<uint32_t>(sizeof(char16_t));
    Ok = true;
}

bool QueryResponse(uint32_t InfoLevel, uint32_t Status, const THeaderList& Headers, void* Buffer,
                   uint32_t& BufferLength, bool (*ParseDate)(const std::string&, SYSTEMTIME&)) {
    const uint32_t Level = InfoLevel & ~HTTP_QUERY_MODIFIER_FLAGS_MASK;
    const uint32_t Mods = InfoLevel & HTTP_QUERY_MODIFIER_FLAGS_MASK;
    std::string Text;
    bool Found = false;
    if (Level == HTTP_QUERY_STATUS_CODE) {
        Found = Status != 0;
        Text = std::to_string(Status);
    } else {
        const char* Name = Level == HTTP_QUERY_CONTENT_LENGTH  ? "content-length"
                           : Level == HTTP_QUERY_LAST_MODIFIED ? "last-modified"
                           : Level == HTTP_QUERY_LOCATION      ? "location"
                                                               : nullptr;
        if (Name == nullptr) {
            SetLastError(ERROR_INTERNET_INVALID_OPTION);
            return false;
        }
        for (const auto& [HeaderName, Value] : Headers) {
            if (HeaderName != Name) continue;
            Found = true;
            Text = Value;
            break;
        }
    }
    if (!Found) {
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return false;
    }
    if ((Mods & (HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_FLAG_NUMBER64)) != 0)
        return PutHeaderNumber(Text, (Mods & HTTP_QUERY_FLAG_NUMBER64) != 0, Buffer, BufferLength);
    if ((Mods & HTTP_QUERY_FLAG_SYSTEMTIME) != 0) {
        SYSTEMTIME Time{};
        if (!ParseDate(Text, Time)) {
            SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            return false;
        }
        return PutValue(&Time, sizeof Time, Buffer, BufferLength);
    }
    bool Ok = false;
    PutUtf16(Text, Buffer, BufferLength, Ok);
    return Ok;
}

bool PutHeaderNumber(const std::string& Text, bool Wide, void* Buffer, uint32_t& BufferLength) {
    // Digits only: a malformed value is refused rather than half read.
    uint64_t Value = 0;
    bool Ok = !Text.empty() && Text.size() <= 19;
    for (char C : Text) {
        if (C < '0' || C > '9') {
            Ok = false;
            break;
        }
        Value = Value * 10 + static_cast<uint64_t>(C - '0');
    }
    if (!Ok || (!Wide && Value > 0xFFFFFFFFu)) {
        SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        return false;
    }
    if (Wide) return PutValue(&Value, 8, Buffer, BufferLength);
    const uint32_t V32 = static_cast<uint32_t>(Value);
    return PutValue(&V32, 4, Buffer, BufferLength);
}

bool PutValue(const void* Value, uint32_t Size, void* Buffer, uint32_t& BufferLength) {
    if (Buffer == nullptr || BufferLength < Size) {
        BufferLength = Size;
        SetLastError(ERROR_INSUFFICIENT_BUFFER_VALUE);
        return false;
    }
    std::memcpy(Buffer, Value, Size);
    BufferLength = Size;
    return true;
}

std::string InternetErrorMessage(uint32_t Code) {
    struct TText {
        uint32_t Code;
        const char* English;
        const char* German;
    };
    static const TText Texts[] = {
        {ERROR_INTERNET_OUT_OF_HANDLES, "No more handles could be generated at this time.",
         "Es konnten keine weiteren Handles erzeugt werden."},
        {ERROR_INTERNET_TIMEOUT, "The operation timed out.",
         "Das Zeitlimit für den Vorgang wurde überschritten."},
        {ERROR_INTERNET_EXTENDED_ERROR, "The server refused the request.",
         "Der Server hat die Anforderung abgelehnt."},
        {ERROR_INTERNET_LOGIN_FAILURE, "The login request was denied.",
         "Die Anmeldung wurde abgelehnt."},
        {ERROR_FTP_TRANSFER_IN_PROGRESS, "A transfer is already in progress on this connection.",
         "Auf dieser Verbindung läuft bereits eine Übertragung."},
        {ERROR_FTP_DROPPED, "The FTP operation was not completed because the session was aborted.",
         "Der FTP-Vorgang wurde nicht abgeschlossen, da die Sitzung abgebrochen wurde."},
        {ERROR_INTERNET_INTERNAL_ERROR, "An internal error occurred.",
         "Ein interner Fehler ist aufgetreten."},
        {ERROR_INTERNET_INVALID_URL, "The URL is invalid.", "Die URL ist ungültig."},
        {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "The URL does not use a recognized protocol.",
         "Die URL verwendet kein bekanntes Protokoll."},
        {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name or address could not be resolved.",
         "Der Servername oder die Serveradresse konnte nicht aufgelöst werden."},
        {ERROR_INTERNET_INVALID_OPTION, "The option is invalid.", "Die Option ist ungültig."},
        {ERROR_INTERNET_OPERATION_CANCELLED, "The operation was cancelled.",
         "Der Vorgang wurde abgebrochen."},
        {ERROR_INTERNET_INCORRECT_HANDLE_TYPE,
         "The handle is of the wrong type for this operation.",
         "Der Handletyp ist für diesen Vorgang falsch."},
        {ERROR_INTERNET_INCORRECT_HANDLE_STATE,
         "The handle is in the wrong state for this operation.",
         "Der Handlestatus ist für diesen Vorgang falsch."},
        {ERROR_INTERNET_CANNOT_CONNECT, "A connection with the server could not be established.",
         "Es konnte keine Verbindung mit dem Server hergestellt werden."},
        {ERROR_INTERNET_CONNECTION_ABORTED,
         "The connection with the server was ended before the transfer was complete.",
         "Die Verbindung mit dem Server wurde vor dem Ende der Übertragung beendet."},
        {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server was reset.",
         "Die Verbindung mit dem Server wurde zurückgesetzt."},
        {ERROR_INTERNET_SEC_CERT_ERRORS, "The server's certificate could not be verified.",
         "Das Zertifikat des Servers konnte nicht überprüft werden."},
        {ERROR_HTTP_HEADER_NOT_FOUND, "The requested header was not found.",
         "Der angeforderte Header wurde nicht gefunden."},
        {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server response could not be parsed.",
         "Die Antwort des Servers konnte nicht ausgewertet werden."},
        {ERROR_HTTP_REDIRECT_FAILED, "The redirection failed.",
         "Die Umleitung ist fehlgeschlagen."},
        {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "A secure connection could not be established.",
         "Es konnte keine sichere Verbindung hergestellt werden."},
    };
    for (const TText& T : Texts) {
        if (T.Code == Code) {
            std::string Text = MessageLanguage() == mlGerman ? T.German : T.English;
            // The lookup keeps at most 255 characters.
            std::u16string W = Utf8ToUtf16(Text);
            if (W.size() > 255) Text = Utf16ToUtf8(W.substr(0, 255));
            return Text;
        }
    }
    return SysErrorMessage(Code);
}

} // namespace kivo
