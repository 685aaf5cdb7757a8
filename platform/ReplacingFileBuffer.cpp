// The parts of the replacing file that make no system call, shared by the
// POSIX and the Windows implementation: writes are gathered in the buffer and
// go to the file in large blocks; the file is write-only.
#include <cstdint>

#include "platform/ReplacingFile.h"

namespace kivo {

TReplacingFile::~TReplacingFile() {
    Discard();
}

int64_t TReplacingFile::Read(void*, int64_t) {
    return 0;
}

int64_t TReplacingFile::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    const auto* P = static_cast<const uint8_t*>(Buffer);
    const auto N = static_cast<size_t>(Count);
    if (FBuffer.size() + N > FBuffer.capacity()) Flush();
    if (N >= FBuffer.capacity())
        WriteThrough(P, N);
    else
        FBuffer.insert(FBuffer.end(), P, P + N);
    FPosition += Count;
    return Count;
}

} // namespace kivo
