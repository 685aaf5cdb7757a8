// The parts of the Internet layer that make no system call: URL and header
// checks, the FTP name check, and the layer's error texts. Internal to
// platform/: callers use platform/Internet.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kivo {

// Header lines of a response, names in lower case.
using THeaderList = std::vector<std::pair<std::string, std::string>>;

std::string LowerAscii(std::string_view Text);
// Percent-encodes the bytes a URL may not carry as they are (blanks,
// controls, bytes above 0x7E), so names with spaces or UTF-8 reach the
// server the way a browser would send them.
std::string EscapeUrl(const std::string& Url);
// The URL's scheme in lower case; empty when it has none.
std::string SchemeOf(const std::string& Url);

// A Content-Length the body can be framed by: digits only, and the same in
// every copy of the header ("0x400" would otherwise frame an empty body).
bool ContentLengthReadable(const THeaderList& Headers);
// Only "chunked" may frame the body: the request offers no other transfer
// coding, and a gzip coding that ends before its end is not reported, so a
// body sent that way could not be known to be whole.
bool TransferCodingsChunkedOnly(const THeaderList& Headers);

// Writes Text as zero-terminated UTF-16 to Buffer; a buffer too small fails
// with ERROR_INSUFFICIENT_BUFFER and sets the length needed.
void PutUtf16(const std::string& Text, void* Buffer, uint32_t& BufferLength, bool& Ok);

// A header's value as the 32-bit or (Wide) 64-bit number it must be: digits
// only, else ERROR_HTTP_INVALID_SERVER_RESPONSE; a buffer too small fails
// with ERROR_INSUFFICIENT_BUFFER and sets the length needed.
bool PutHeaderNumber(const std::string& Text, bool Wide, void* Buffer, uint32_t& BufferLength);

// A name or path that could carry a second command on an FTP control
// connection (CR, LF or NUL) is refused before anything is sent.
inline bool SafeFtpText(const std::string& Text) {
    return Text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

} // namespace kivo
