// Names as the system's Internet library takes and gives them on FTP: it
// turns UTF-16 into the server's bytes, and the bytes back, through the
// ANSI code page. So that a name reaches a server as its UTF-8 bytes (as on
// Linux, and as servers keep names today), each byte goes to the library as
// the ANSI character it turns back into that byte. Internal to
// platform/win32.
#pragma once

#include <string>

namespace kivo {

// Name (UTF-8) as the library must be given it to send its UTF-8 bytes; the
// plain UTF-16 of Name when the ANSI code page cannot carry every byte back
// (a multi-byte page).
std::u16string FtpWireName(const std::string& Name);
// A name the library read from the server, in UTF-8: the server's bytes
// when they are UTF-8, else the library's reading of them in the ANSI code
// page.
std::string FtpNameFromWire(const std::u16string& Wide);

} // namespace kivo
