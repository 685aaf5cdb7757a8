// The parts of the Internet layer that make no system call, shared by the
// libcurl and the WinINet implementations.
#include "platform/InternetCommon.h"

#include <cstring>

#include "platform/Internet.h"
#include "runtime/SysMessages.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

namespace kivo {

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

bool PutHeaderNumber(const std::string& Text, bool Wide, void* Buffer, uint32_t& BufferLength) {
    const uint32_t Need = Wide ? 8 : 4;
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
    if (Buffer == nullptr || BufferLength < Need) {
        BufferLength = Need;
        SetLastError(ERROR_INSUFFICIENT_BUFFER_VALUE);
        return false;
    }
    if (Wide) {
        std::memcpy(Buffer, &Value, 8);
    } else {
        const uint32_t V32 = static_cast<uint32_t>(Value);
        std::memcpy(Buffer, &V32, 4);
    }
    BufferLength = Need;
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
