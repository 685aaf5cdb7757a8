// Traditional ZIP encryption (the PKWARE stream cipher): the cipher engine
// and a read-only stream that checks a password against an item's 12-byte
// encryption header and then decrypts the item's data as it is read.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Classes.h"

namespace kivo {

// The 12 bytes stored before an encrypted item's data.
using TAbZipEncryptHeader = std::array<uint8_t, 12>;

// The three 32-bit keys of the cipher.
struct TAbZipDecryptState {
    uint32_t Key0 = 0x12345678;
    uint32_t Key1 = 0x23456789;
    uint32_t Key2 = 0x34567890;
};

class TAbZipDecryptEngine {
public:
    TAbZipDecryptEngine() = default;

    // Keys the cipher with the passphrase (as bytes of the system ANSI code
    // page), decrypts the header and compares its last byte with bits 24..31
    // of aCheckValue. True makes the engine ready: its keys then stand at the
    // first data byte. An empty passphrase is a contract violation.
    bool VerifyHeader(const TAbZipEncryptHeader& aHeader, const std::string& aPassphrase,
                      uint32_t aCheckValue);
    // Decrypts one byte / a buffer in place; only once ready.
    uint8_t Decode(uint8_t aCh);
    void DecodeBuffer(void* aBuffer, int64_t aCount);

    bool Ready() const { return FReady; }

private:
    bool FReady = false;
    TAbZipDecryptState FState;
};

class TAbDfDecryptStream : public TStream {
public:
    // aStream stands at the encryption header; nothing is read yet.
    TAbDfDecryptStream(TStream* aStream, uint32_t aCheckValue, const std::string& aPassphrase);
    ~TAbDfDecryptStream() override;

    // Reads the 12-byte header (the inner stream's read error when it is
    // shorter) and checks the passphrase. On failure the inner stream is
    // moved back to the header, so another passphrase can be tried.
    bool IsValid();

    // Decrypted bytes; a read before IsValid succeeded is a contract violation.
    int64_t Read(void* aBuffer, int64_t aCount) override;
    // Refused (contract violation): the stream is read-only.
    int64_t Write(const void* aBuffer, int64_t aCount) override;
    // Passed to the inner stream; the cipher state does not follow, so only
    // position queries are meaningful.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

    bool OwnsStream() const { return FOwnsStream; }
    void SetOwnsStream(bool Value) { FOwnsStream = Value; }

private:
    uint32_t FCheckValue;
    std::unique_ptr<TAbZipDecryptEngine> FEngine;
    bool FOwnsStream = false;
    std::string FPassphrase;
    bool FReady = false;
    TStream* FStream;
};

} // namespace kivo
