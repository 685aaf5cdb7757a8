// Little-endian readers and writers for the numbers in archive records.
// The callers check that the bytes are there; these only assemble them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kivo {

inline uint16_t GetLE16(const uint8_t* P) {
    return static_cast<uint16_t>(P[0] | (P[1] << 8));
}

inline uint32_t GetLE32(const uint8_t* P) {
    return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) |
           (static_cast<uint32_t>(P[2]) << 16) | (static_cast<uint32_t>(P[3]) << 24);
}

inline uint64_t GetLE64(const uint8_t* P) {
    return GetLE32(P) | (static_cast<uint64_t>(GetLE32(P + 4)) << 32);
}

inline void PutLE16(uint8_t* P, uint16_t V) {
    P[0] = static_cast<uint8_t>(V);
    P[1] = static_cast<uint8_t>(V >> 8);
}

// Builds a record in memory, field by field.
class TLEWriter {
public:
    void U8(uint8_t V) { FData.push_back(static_cast<char>(V)); }
    void U16(uint16_t V) {
        U8(static_cast<uint8_t>(V));
        U8(static_cast<uint8_t>(V >> 8));
    }
    void U32(uint32_t V) {
        U16(static_cast<uint16_t>(V));
        U16(static_cast<uint16_t>(V >> 16));
    }
    void U64(uint64_t V) {
        U32(static_cast<uint32_t>(V));
        U32(static_cast<uint32_t>(V >> 32));
    }
    void Bytes(const void* P, size_t N) { FData.append(static_cast<const char*>(P), N); }
    void Bytes(std::string_view S) { FData.append(S); }
    const std::string& Data() const { return FData; }

private:
    std::string FData;
};

} // namespace kivo
