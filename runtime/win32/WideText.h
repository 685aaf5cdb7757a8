// UTF-16 at the Windows API, UTF-8 inside, and the system's error codes as
// the errno values the rest of the program speaks. Shared by the runtime's
// and the platform's Windows files only (and the tests' Windows helpers).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kivo::os {

std::wstring Utf8ToWide(std::string_view Text);
std::string WideToUtf8(std::wstring_view Text);
// A path for the wide file APIs: '/' becomes '\', and a long absolute path
// gets the "\\?\" prefix that lifts the 260-character limit.
std::wstring ApiPath(std::string_view Path);
// The errno value nearest to a Windows error code (EIO when none fits).
int ErrnoOf(uint32_t WindowsError);
// ErrnoOf the calling thread's last Windows error.
int LastErrno();

} // namespace kivo::os
