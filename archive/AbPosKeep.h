// Keeps a stream's position across a look at its contents: the probes of
// the type detection and the containers' tests put it back however they end.
#pragma once

#include <cstdint>

#include "runtime/Classes.h"

namespace kivo {

class TAbStreamPositionKeeper {
public:
    explicit TAbStreamPositionKeeper(TStream* Stream)
        : FStream(Stream), FPosition(Stream->Position()) {}
    ~TAbStreamPositionKeeper() {
        try {
            FStream->Seek(FPosition, soBeginning);
        } catch (...) {
            // A stream that cannot go back has nothing left to restore.
        }
    }
    TAbStreamPositionKeeper(const TAbStreamPositionKeeper&) = delete;
    TAbStreamPositionKeeper& operator=(const TAbStreamPositionKeeper&) = delete;

private:
    TStream* FStream;
    int64_t FPosition;
};

} // namespace kivo
