// Cabinet files: whether a byte source is one, through libmspack. The
// engine only recognises cabinets; it does not extract them.
#pragma once

#include <cstdint>

namespace kivo {

// What the check reads from: a seekable source of bytes.
class ICabinetSource {
public:
    virtual ~ICabinetSource() = default;
    // Up to Count bytes; fewer at the end, negative on an error.
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    // Origin 0 start, 1 current, 2 end; the new position, negative on an error.
    virtual int64_t Seek(int64_t Offset, int Origin) = 0;
    virtual int64_t Tell() = 0;
};

enum TCabinetAnswer : uint8_t {
    caCabinet,    // a cabinet header the library accepts
    caNotCabinet, // anything else
    caNoLibrary,  // the library cannot be used here
};

// Asks the cabinet library whether Source starts with a cabinet.
TCabinetAnswer ProbeCabinet(ICabinetSource& Source);

} // namespace kivo
