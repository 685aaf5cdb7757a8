#include "archive/AbAesCryS.h"

#include <algorithm>
#include <cstring>

#include "archive/AbArcTyp.h"
#include "archive/AbByteOrder.h"
#include "archive/AbExcept.h"
#include "platform/Crypto.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

constexpr int KeyDerivationRounds = 1000;
constexpr int BlockSize = 16;
// Key stream made per call of the cipher: 4096 counter blocks.
constexpr size_t KeyStreamBytes = 4096 * BlockSize;

[[noreturn]] void CryptoFailure() {
    throw EAbException("AES decryption failed in the crypto library");
}

// Compares in a time that does not depend on where the bytes differ.
bool SameBytes(const uint8_t* A, const uint8_t* B, size_t Size) {
    uint8_t Difference = 0;
    for (size_t I = 0; I < Size; ++I)
        Difference |= static_cast<uint8_t>(A[I] ^ B[I]);
    return Difference == 0;
}

} // namespace

bool ReadZipAesInfo(const TAbExtraField& Extra, TAbZipAesInfo& Info) {
    const uint8_t* Data = nullptr;
    uint16_t Size = 0;
    if (!Extra.Get(Ab_ZipAesSubfieldID, Data, Size) || Size < 7) return false;
    Info.VendorVersion = GetLE16(Data);
    Info.Strength = Data[4];
    Info.Method = GetLE16(Data + 5);
    return (Info.VendorVersion == 1 || Info.VendorVersion == 2) && Data[2] == 'A' &&
           Data[3] == 'E' && Info.Strength >= 1 && Info.Strength <= 3;
}

// The AES key schedule for the key stream and the HMAC-SHA1 over the
// encrypted data.
struct TAbAesDecryptStream::TCrypto {
    TCrypto(const uint8_t* Keys, size_t KeyBytes)
        : Cipher(Keys, KeyBytes), Mac(Keys + KeyBytes, KeyBytes) {}
    TAesBlockCipher Cipher;
    THmacSha1 Mac;
};

TAbAesDecryptStream::TAbAesDecryptStream(TStream* aStream, int64_t aStoredSize,
                                         const TAbZipAesInfo& aInfo, const std::string& aPassphrase)
    : FStream(aStream), FInfo(aInfo), FPassphrase(aPassphrase),
      FRemaining(aStoredSize - aInfo.Overhead()) {}

TAbAesDecryptStream::~TAbAesDecryptStream() {
    WipeSecret(FPassphrase.data(), FPassphrase.size());
    if (FOwnsStream) delete FStream;
}

bool TAbAesDecryptStream::IsValid() {
    // Too short for salt, verifier and code: no password can open it.
    if (FRemaining < 0) throw EAbZipInvalid();
    const int KeyBytes = FInfo.KeyBytes();
    const int SaltBytes = FInfo.SaltBytes();
    uint8_t Head[16 + Ab_ZipAesVerifierSize];
    FStream->ReadBuffer(Head, SaltBytes + Ab_ZipAesVerifierSize);

    // Cipher key, HMAC key and verifier, one after the other.
    uint8_t Keys[2 * 32 + Ab_ZipAesVerifierSize];
    const int KeysSize = 2 * KeyBytes + Ab_ZipAesVerifierSize;
    if (!DerivePbkdf2HmacSha1(FPassphrase, Head, static_cast<size_t>(SaltBytes),
                              KeyDerivationRounds, Keys, static_cast<size_t>(KeysSize))) {
        CryptoFailure();
    }
    if (std::memcmp(Keys + 2 * KeyBytes, Head + SaltBytes, Ab_ZipAesVerifierSize) != 0) {
        WipeSecret(Keys, sizeof Keys);
        FStream->Seek(-(SaltBytes + Ab_ZipAesVerifierSize), soCurrent);
        return false;
    }

    // The key stream is the encryption of the counter blocks, so the cipher
    // runs forwards even though the data is decrypted.
    auto Crypto = std::make_unique<TCrypto>(Keys, static_cast<size_t>(KeyBytes));
    WipeSecret(Keys, sizeof Keys);
    if (!Crypto->Cipher.Valid() || !Crypto->Mac.Valid()) CryptoFailure();
    FCrypto = std::move(Crypto);
    return true;
}

void TAbAesDecryptStream::DecryptInPlace(uint8_t* Data, int64_t Count) {
    for (int64_t Done = 0; Done < Count;) {
        if (FKeyStreamUsed == FKeyStream.size()) {
            // The next counter blocks: a 128-bit little-endian number from 1.
            FKeyStream.assign(KeyStreamBytes, 0);
            for (size_t At = 0; At < KeyStreamBytes; At += BlockSize)
                for (int B = 0; B < 8; ++B)
                    FKeyStream[At + B] =
                        static_cast<uint8_t>((FCounter + At / BlockSize) >> (8 * B));
            FCounter += KeyStreamBytes / BlockSize;
            if (!FCrypto->Cipher.EncryptBlocks(FKeyStream.data(), KeyStreamBytes)) CryptoFailure();
            FKeyStreamUsed = 0;
        }
        const auto N = static_cast<size_t>(std::min<int64_t>(
            Count - Done, static_cast<int64_t>(FKeyStream.size() - FKeyStreamUsed)));
        const uint8_t* Key = FKeyStream.data() + FKeyStreamUsed;
        for (size_t I = 0; I < N; ++I)
            Data[Done + static_cast<int64_t>(I)] ^= Key[I];
        FKeyStreamUsed += N;
        Done += static_cast<int64_t>(N);
    }
}

int64_t TAbAesDecryptStream::Read(void* aBuffer, int64_t aCount) {
    KIVO_ASSERT(FCrypto != nullptr, "TAbAesDecryptStream.Read: the password has not been checked");
    const int64_t Want = std::min(aCount, FRemaining);
    if (Want <= 0) return 0;
    const int64_t N = FStream->Read(aBuffer, Want);
    if (N <= 0) return 0;
    auto* Data = static_cast<uint8_t*>(aBuffer);
    if (!FCrypto->Mac.Update(Data, static_cast<size_t>(N))) CryptoFailure();
    DecryptInPlace(Data, N);
    FRemaining -= N;
    return N;
}

void TAbAesDecryptStream::CheckAuthentication() {
    KIVO_ASSERT(FCrypto != nullptr, "TAbAesDecryptStream: the password has not been checked");
    uint8_t Rest[4096];
    while (FRemaining > 0) {
        const int64_t N = FStream->Read(Rest, std::min<int64_t>(FRemaining, sizeof Rest));
        if (N <= 0) throw EReadError();
        if (!FCrypto->Mac.Update(Rest, static_cast<size_t>(N))) CryptoFailure();
        FRemaining -= N;
    }
    uint8_t Stored[Ab_ZipAesCodeSize];
    FStream->ReadBuffer(Stored, Ab_ZipAesCodeSize);
    THmacSha1::TDigest Code{};
    if (!FCrypto->Mac.Final(Code)) CryptoFailure();
    if (!SameBytes(Code.data(), Stored, Ab_ZipAesCodeSize)) throw EAbZipAuthentication();
}

int64_t TAbAesDecryptStream::Write(const void*, int64_t) {
    KIVO_ASSERT(false, "TAbAesDecryptStream.Write: the stream is read-only");
    return 0;
}

int64_t TAbAesDecryptStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    return FStream->Seek(Offset, Origin);
}

} // namespace kivo
