// Internal to the POSIX platform files: a file status from what stat gives,
// for local files and for files on a share alike.
#pragma once

#include <sys/stat.h>

#include "platform/FileSystem.h"

namespace kivo {

void FileStatusFromStat(const struct stat& St, TFileStatus& Status);

} // namespace kivo
