// The status of an open file, for the Windows files of platform/ that open
// files themselves.
#pragma once

#include "platform/FileSystem.h"

namespace kivo {

// Fills Status from the open file Handle (a HANDLE); false with errno set.
bool FileStatusOfHandle(void* Handle, TFileStatus& Status);

} // namespace kivo
