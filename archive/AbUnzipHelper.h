// TAbUnzipHelper: the decoders of the three oldest ZIP methods, shrinking
// (1, LZW with partial clearing), reducing (2-5, follower sets and a
// repeat escape) and imploding (6, sliding dictionary and Shannon-Fano
// trees). Damaged data ends the item early (the CRC check reports it);
// data that would index outside a table raises EAbZipInvalid.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "archive/AbZipTyp.h"
#include "runtime/Classes.h"

namespace kivo {

class TabSlidingWindowStream;

class TAbUnzipHelper {
public:
    // InputStream: the item's compressed (decrypted) data; OutputStream: the
    // destination. Neither is owned.
    TAbUnzipHelper(TStream* InputStream, TStream* OutputStream);
    ~TAbUnzipHelper();
    TAbUnzipHelper(const TAbUnzipHelper&) = delete;
    TAbUnzipHelper& operator=(const TAbUnzipHelper&) = delete;

    int64_t UnCompressedSize() const { return FUnCompressedSize; }
    void SetUnCompressedSize(int64_t Value) { FUnCompressedSize = Value; }
    int32_t CompressionMethod() const { return FCompressionMethod; }
    void SetCompressionMethod(int32_t Value) { FCompressionMethod = Value; }
    TAbZipDictionarySize DictionarySize() const { return FDictionarySize; }
    void SetDictionarySize(TAbZipDictionarySize Value) { FDictionarySize = Value; }
    uint8_t ShannonFanoTreeCount() const { return FShannonFanoTreeCount; }
    void SetShannonFanoTreeCount(uint8_t Value) { FShannonFanoTreeCount = Value; }

    // Decodes the whole item; methods other than 1-6 raise
    // EAbZipInvalidMethod. What was decoded reaches the destination also
    // when decoding fails.
    void Execute();

    // Reduce with compression factor 1-4 (EAbZipInvalidFactor otherwise).
    void Unreduce(int32_t Factor);

private:
    struct TSFTree;
    class TShrinkTable;

    // Bit input, least significant bit first.
    uint32_t PeekBits(int32_t Count);
    void DropBits(int32_t Count);
    uint32_t ReadBits(int32_t Count) {
        const uint32_t Bits = PeekBits(Count);
        DropBits(Count);
        return Bits;
    }
    void FillBits(int32_t Count);

    // Byte output through the history ring.
    void PutByte(uint8_t Value) {
        FHistory[static_cast<size_t>(FOutPos & HistoryMask)] = Value;
        if (++FOutPos == FSendAt) SendOutput();
    }
    void CopyMatch(int64_t Distance, int32_t Length);
    void SendOutput();

    void Unshrink();
    int32_t ReadShrinkCode(TShrinkTable& Table, int32_t& CodeSize);
    void Explode();
    void LoadTree(TSFTree& Tree, int32_t Symbols);
    uint8_t DecodeSymbol(const TSFTree& Tree);

    // Output is kept in a ring of twice the block handed on: the block being
    // filled and the one before it, more than the farthest distance a copy
    // reaches (8192).
    static constexpr int32_t OutBlock = 32768;
    static constexpr int64_t HistoryMask = 2 * OutBlock - 1;
    static constexpr int32_t InBlock = 4096;

    TStream* FZStream;
    TStream* FOutStream;
    TStream* FOutWriter = nullptr;
    std::unique_ptr<TabSlidingWindowStream> FWindow;
    int64_t FUnCompressedSize = 0;
    int32_t FCompressionMethod = 8;
    TAbZipDictionarySize FDictionarySize = dsInvalid;
    uint8_t FShannonFanoTreeCount = 0;

    std::unique_ptr<uint8_t[]> FHistory;
    int64_t FOutPos = 0;  // bytes decoded
    int64_t FOutSent = 0; // bytes handed to FOutWriter
    int64_t FSendAt = 0;  // the next FOutPos at which output is handed on

    std::array<uint8_t, InBlock> FInBuf{};
    int32_t FInPos = 0;
    int32_t FInCnt = 0;
    bool FInExhausted = false; // a refill returned nothing
    bool FInEof = false;       // bits beyond the end were asked for
    uint64_t FBitBuf = 0;
    int32_t FBitCount = 0;
};

} // namespace kivo
