// Internal to the POSIX platform files: a file status from what stat gives,
// for local files and for files on a share alike.
#pragma once

#include "platform/FileSystem.h"

struct stat; // from <sys/stat.h>, which each POSIX file includes

namespace kivo {

void FileStatusFromStat(const struct stat& St, TFileStatus& Status);

} // namespace kivo
