// Helpers the fuzz targets share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/Classes.h"

namespace kivo::fuzz {

// A source that returns at most Step bytes per read.
class TTrickle : public TStream {
public:
    TTrickle(const uint8_t* Data, int64_t Size, int64_t Step)
        : FData(Data), FSize(Size), FStep(Step) {}
    int64_t Read(void* Buffer, int64_t Count) override {
        int64_t N = std::min({Count, FStep, FSize - FPos});
        if (N <= 0) return 0;
        std::memcpy(Buffer, FData + FPos, static_cast<size_t>(N));
        FPos += N;
        return N;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        FPos = (Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : FSize) + Offset;
        return FPos;
    }
    int64_t Size() override { return FSize; }

private:
    const uint8_t* FData;
    int64_t FSize;
    int64_t FStep;
    int64_t FPos = 0;
};

} // namespace kivo::fuzz
