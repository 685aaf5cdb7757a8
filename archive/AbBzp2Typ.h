// bzip2 files: the item, the archive and the probe. A bzip2 file that holds
// a tar archive is presented as that tar archive when asked (IsBzippedTar
// and TarAutoHandle): the data is decoded into a swap-backed stream and the
// tar reader works on it. Concatenated bzip2 streams decode one after the
// other, as bzip2 -d gives them; their integrity is what the decoder checks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/AbArcTyp.h"
#include "archive/AbTarTyp.h"
#include "runtime/Classes.h"

namespace kivo {

// Decoded data is copied in blocks of this size.
constexpr int64_t AbBzip2CopyBlock = 61440;

// atBzip2 for a stream that starts with a bzip2 stream header ("BZh", a
// block-size digit and the block magic), atBzippedTar when its data starts
// with a tar header. Data shorter than the 1024 bytes looked at still counts
// as bzip2. Damaged data raises the decoder's error. The position is kept.
TAbArchiveType IdentifyBzip2Stream(TStream* Stream);

class TAbBzip2Item : public TAbArchiveItem {};

enum TAbBzip2ArchiveState : uint8_t { bsBzip2, bsTar };

class TAbBzip2Archive : public TAbTarArchive {
public:
    TAbBzip2Archive(const std::string& FileName, uint16_t Mode);
    TAbBzip2Archive(TStream* aStream, const std::string& aArchiveName);
    ~TAbBzip2Archive() override;

    bool TarAutoHandle() const { return FTarAutoHandle; }
    void SetTarAutoHandle(bool Value) { FTarAutoHandle = Value; }
    // How many threads decode the data's blocks at once (1: decoded as a
    // stream, in this thread); set before the archive is read.
    unsigned DecodeThreads() const { return FDecodeThreads; }
    void SetDecodeThreads(unsigned Value) { FDecodeThreads = Value; }
    bool IsBzippedTar() const { return FIsBzippedTar; }
    void SetIsBzippedTar(bool Value) { FIsBzippedTar = Value; }
    TAbBzip2ArchiveState State() const { return FState; }

    void ExtractItemToFile(int32_t Index, const std::string& TargetName) override;
    void ExtractItemToStream(int32_t Index, TStream* Stream) override;
    // In the tar state the tar archive decoded from the stream; otherwise one
    // item named after the archive (".tbz" and ".tbz2" become ".tar", any
    // other extension is dropped; "unknown" without a name).
    void ReadArchive() override;
    void VerifyItem(int32_t Index) override;

private:
    void LoadBzippedTar();

    bool FTarAutoHandle = false;
    bool FIsBzippedTar = false;
    unsigned FDecodeThreads = 1;
    TAbBzip2ArchiveState FState = bsBzip2;
};

} // namespace kivo
