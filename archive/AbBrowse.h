// Archive type detection: a file's type from its extension, confirmed by a
// look at its contents; a stream's type from its contents alone.
// ZIP archives (plain, split or spanned, and self-extracting), tar, gzip
// and bzip2 files (a tar archive inside either recognised by content) and
// cabinet files.
#pragma once

#include <string>

#include "archive/AbArcTyp.h"
#include "archive/AbBzp2Typ.h"
#include "archive/AbCabTyp.h"
#include "archive/AbGzTyp.h"
#include "archive/AbTarTyp.h"
#include "runtime/Classes.h"

namespace kivo {

// With AssumedType atUnknown the extension decides which probe runs (.ZIP
// and .JAR ZIP, .EXE self-extracting ZIP, .TAR, .GZ, .TGZ, .CAB, .BZ2, .TBZ;
// any letter case); only that probe runs, and its answer is the result. A
// missing or empty file gets the extension's type unchecked. A file without a
// known extension is classified by DetectStreamArchiveType. The file is opened
// for reading with others allowed to read and write (its open error passes).
TAbArchiveType DetectArchiveType(const std::string& FileName,
                                 TAbArchiveType AssumedType = atUnknown);
// The first probe that recognises the stream: self-extracting ZIP, ZIP,
// tar, gzip, bzip2, cabinet (EAbNoCabinetDll when no other answered and the
// cabinet library cannot be used).
TAbArchiveType DetectStreamArchiveType(TStream* Stream);

// Probes: each leaves the stream's position as it found it; a stream too
// short to tell answers atUnknown.
// atSpannedZip for a stream starting with the split marker or whose end
// record names a disk other than 0; atZip for another end record.
TAbArchiveType IdentifyZipStream(TStream* Stream);
// atSelfExtZip for a stream starting with "MZ" or "\x7F" "ELF" that also is a
// (single-disk) ZIP archive.
TAbArchiveType IdentifySelfExtractingZip(TStream* Stream);

} // namespace kivo
