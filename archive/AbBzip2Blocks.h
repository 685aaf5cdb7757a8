// bzip2 data decoded on several threads: the blocks of a bzip2 stream
// start at a 48-bit magic number at any bit position and decode
// independently of each other, so each block found is handed to a thread of
// its own as a one-block stream, and the results are written in order.
#pragma once

#include "runtime/Classes.h"

namespace kivo {

// Writes what the bzip2 data in Source (from its position on) decodes to
// into Dest, decoding up to Threads blocks at once. Dest gets the same bytes
// and the call raises the same error as copying a TBZDecompressionStream
// over Source would: where the data is damaged, cut or shaped in a way the
// block finder does not follow, the rest is decoded by that stream in one
// thread, after the bytes already written (which it decodes again and
// drops). Memory: up to Threads blocks in flight, each its compressed bytes
// (at most about 1 MiB) and what it decodes to (usually the block size, up
// to 46 MiB for a block of repeated bytes).
void DecodeBzip2OnThreads(TStream* Source, TStream* Dest, unsigned Threads);

} // namespace kivo
