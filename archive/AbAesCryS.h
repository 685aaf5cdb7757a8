// AES encryption of ZIP items (method 99 with the 0x9901 extra field,
// vendor versions AE-1 and AE-2, 128-, 192- and 256-bit keys): the extra
// field's values and a read-only stream that checks a password against the
// item's salt and verifier, then decrypts the item's data as it is read and
// checks its authentication code. The cryptography is the platform's
// (platform/Crypto.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Classes.h"

namespace kivo {

class TAbExtraField;

constexpr uint16_t Ab_ZipAesMethod = 99;
constexpr uint16_t Ab_ZipAesSubfieldID = 0x9901;
// The authentication code after the encrypted data, and the verifier before it.
constexpr int Ab_ZipAesCodeSize = 10;
constexpr int Ab_ZipAesVerifierSize = 2;

// The 0x9901 subfield: vendor version (1 = AE-1 with a CRC, 2 = AE-2 whose
// CRC field is 0), key strength (1, 2, 3 = 128, 192, 256 bits) and the
// method the data was compressed with before encryption.
struct TAbZipAesInfo {
    uint16_t VendorVersion = 0;
    uint8_t Strength = 0;
    uint16_t Method = 0;

    int KeyBytes() const { return 8 + 8 * Strength; }
    int SaltBytes() const { return 4 + 4 * Strength; }
    // The salt, verifier and code around the encrypted data.
    int64_t Overhead() const { return SaltBytes() + Ab_ZipAesVerifierSize + Ab_ZipAesCodeSize; }
};

// The subfield's values; false when it is missing or names a vendor
// version, vendor or strength this engine does not know.
bool ReadZipAesInfo(const TAbExtraField& Extra, TAbZipAesInfo& Info);

class TAbAesDecryptStream : public TStream {
public:
    // aStream stands at the salt and holds aStoredSize bytes of the item
    // (salt, verifier, encrypted data, code); nothing is read yet.
    TAbAesDecryptStream(TStream* aStream, int64_t aStoredSize, const TAbZipAesInfo& aInfo,
                        const std::string& aPassphrase);
    ~TAbAesDecryptStream() override;

    // Reads the salt and verifier (the inner stream's read error when they
    // are missing) and checks the passphrase against the verifier. On
    // failure the inner stream is moved back, so another one can be tried.
    bool IsValid();

    // Decrypted bytes, at most up to the authentication code.
    int64_t Read(void* aBuffer, int64_t aCount) override;
    // Refused (contract violation): the stream is read-only.
    int64_t Write(const void* aBuffer, int64_t aCount) override;
    // Passed to the inner stream; only position queries are meaningful.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

    // Reads whatever encrypted data the decoder left and compares the
    // authentication code: EAbZipAuthentication when it differs (the data or
    // the code was changed).
    void CheckAuthentication();

    bool OwnsStream() const { return FOwnsStream; }
    void SetOwnsStream(bool Value) { FOwnsStream = Value; }

private:
    struct TCrypto;
    void DecryptInPlace(uint8_t* Data, int64_t Count);

    TStream* FStream;
    bool FOwnsStream = false;
    TAbZipAesInfo FInfo;
    std::string FPassphrase;
    int64_t FRemaining; // encrypted bytes not read yet
    std::unique_ptr<TCrypto> FCrypto;
    // Key stream blocks made ahead, and how many of their bytes are used.
    std::vector<uint8_t> FKeyStream;
    size_t FKeyStreamUsed = 0;
    uint64_t FCounter = 1;
};

} // namespace kivo
