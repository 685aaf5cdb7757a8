#include "archive/AbBrowse.h"

#include "archive/AbByteOrder.h"
#include "archive/AbPosKeep.h"
#include "archive/AbUtils.h"
#include "archive/AbZipTyp.h"
#include "platform/FileSystem.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

using TPositionKeeper = TAbStreamPositionKeeper;

// Reads exactly Count bytes from the start; false when the stream is shorter.
bool ReadHead(TStream* Stream, uint8_t* Buffer, int64_t Count) {
    if (Stream->Seek(0, soBeginning) != 0) return false;
    int64_t Done = 0;
    while (Done < Count) {
        int64_t N = Stream->Read(Buffer + Done, Count - Done);
        if (N <= 0) return false;
        Done += N;
    }
    return true;
}

TAbArchiveType TypeOfExtension(const std::string& FileName) {
    const std::string Ext = AsciiUpperCase(ExtractFileExt(FileName));
    if (Ext == ".ZIP" || Ext == ".JAR") return atZip;
    if (Ext == ".EXE") return atSelfExtZip;
    if (Ext == ".TAR") return atTar;
    if (Ext == ".GZ") return atGzip;
    if (Ext == ".TGZ") return atGzippedTar;
    if (Ext == ".CAB") return atCab;
    if (Ext == ".BZ2") return atBzip2;
    if (Ext == ".TBZ") return atBzippedTar;
    return atUnknown;
}

// The probe for a type the extension (or the caller) names.
TAbArchiveType ProbeAs(TAbArchiveType Type, TStream* Stream) {
    switch (Type) {
    case atZip:
    case atSpannedZip: return IdentifyZipStream(Stream);
    case atSelfExtZip: return IdentifySelfExtractingZip(Stream);
    case atTar: return IdentifyTarStream(Stream);
    case atGzip:
    case atGzippedTar: return IdentifyGzipStream(Stream);
    case atCab: return IdentifyCabStream(Stream);
    case atBzip2:
    case atBzippedTar: return IdentifyBzip2Stream(Stream);
    default: return atUnknown;
    }
}

} // namespace

TAbArchiveType IdentifyZipStream(TStream* Stream) {
    TPositionKeeper Keep(Stream);
    try {
        uint8_t Head[4];
        if (!ReadHead(Stream, Head, 4)) return atUnknown;
        if (GetLE32(Head) == Ab_ZipSpannedSetSignature) return atSpannedZip;
        const int64_t Tail = FindEndOfCentralDirectory(Stream);
        if (Tail < 0) return atUnknown;
        uint8_t Record[Ab_ZipEndCentralDirectorySize];
        Stream->Seek(Tail, soBeginning);
        Stream->ReadBuffer(Record, Ab_ZipEndCentralDirectorySize);
        if (GetLE32(Record) != Ab_ZipEndCentralDirectorySignature) return atUnknown;
        const uint16_t ThisDisk = GetLE16(Record + 4);
        return ThisDisk != 0 ? atSpannedZip : atZip;
    } catch (const EReadError&) {
        return atUnknown;
    }
}

TAbArchiveType IdentifySelfExtractingZip(TStream* Stream) {
    TPositionKeeper Keep(Stream);
    try {
        uint8_t Head[4];
        if (!ReadHead(Stream, Head, 2)) return atUnknown;
        bool Executable = Head[0] == 'M' && Head[1] == 'Z';
        if (!Executable && ReadHead(Stream, Head, 4))
            Executable = GetLE32(Head) == Ab_LinuxExeSignature;
        if (!Executable) return atUnknown;
        return IdentifyZipStream(Stream) == atZip ? atSelfExtZip : atUnknown;
    } catch (const EReadError&) {
        return atUnknown;
    }
}

TAbArchiveType DetectStreamArchiveType(TStream* Stream) {
    for (auto* Probe : {IdentifySelfExtractingZip, IdentifyZipStream, IdentifyTarStream,
                        IdentifyGzipStream, IdentifyBzip2Stream, IdentifyCabStream}) {
        const TAbArchiveType Type = Probe(Stream);
        if (Type != atUnknown) return Type;
    }
    return atUnknown;
}

TAbArchiveType DetectArchiveType(const std::string& FileName, TAbArchiveType AssumedType) {
    TAbArchiveType Type = AssumedType == atUnknown ? TypeOfExtension(FileName) : AssumedType;
    if (!FileExists(FileName) || FileSizeOf(FileName) <= 0) return Type;
    TBufferedFileStream Stream(FileName, fmOpenRead | fmShareDenyNone, 32768);
    return Type != atUnknown ? ProbeAs(Type, &Stream) : DetectStreamArchiveType(&Stream);
}

} // namespace kivo
