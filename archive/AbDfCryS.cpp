#include "archive/AbDfCryS.h"

#include "runtime/CodePages.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

// The CRC-32 table (reflected polynomial 0xEDB88320) for the key updates.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> T{};
    for (uint32_t I = 0; I < 256; ++I) {
        uint32_t C = I;
        for (int K = 0; K < 8; ++K)
            C = (C & 1) != 0 ? 0xEDB88320u ^ (C >> 1) : C >> 1;
        T[I] = C;
    }
    return T;
}
constexpr std::array<uint32_t, 256> CrcTable = MakeCrcTable();
static_assert(CrcTable[1] == 0x77073096u, "CRC table");

inline uint32_t CrcStep(uint32_t Crc, uint8_t B) {
    return CrcTable[(Crc ^ B) & 0xFF] ^ (Crc >> 8);
}

// Each plain byte advances the keys.
inline void UpdateKeys(TAbZipDecryptState& S, uint8_t Plain) {
    S.Key0 = CrcStep(S.Key0, Plain);
    S.Key1 = (S.Key1 + (S.Key0 & 0xFF)) * 134775813u + 1;
    S.Key2 = CrcStep(S.Key2, static_cast<uint8_t>(S.Key1 >> 24));
}

inline uint8_t DecryptByte(TAbZipDecryptState& S, uint8_t Cipher) {
    const uint32_t T = (S.Key2 & 0xFFFF) | 2;
    const auto Plain = static_cast<uint8_t>(Cipher ^ static_cast<uint8_t>((T * (T ^ 1)) >> 8));
    UpdateKeys(S, Plain);
    return Plain;
}

} // namespace

// ---------------------------------------------------------------------------
// TAbZipDecryptEngine

bool TAbZipDecryptEngine::VerifyHeader(const TAbZipEncryptHeader& aHeader,
                                       const std::string& aPassphrase, uint32_t aCheckValue) {
    KIVO_ASSERT(!aPassphrase.empty(), "TAbZipDecryptEngine.VerifyHeader: need a passphrase");
    FReady = false;
    FState = TAbZipDecryptState();
    for (char C : Utf8ToAnsi(aPassphrase))
        UpdateKeys(FState, static_cast<uint8_t>(C));
    uint8_t Last = 0;
    for (uint8_t B : aHeader)
        Last = DecryptByte(FState, B);
    FReady = Last == static_cast<uint8_t>(aCheckValue >> 24);
    return FReady;
}

uint8_t TAbZipDecryptEngine::Decode(uint8_t aCh) {
    KIVO_ASSERT(FReady, "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first");
    return DecryptByte(FState, aCh);
}

void TAbZipDecryptEngine::DecodeBuffer(void* aBuffer, int64_t aCount) {
    KIVO_ASSERT(FReady, "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first");
    // The keys live in locals for the loop; the state is written back once.
    TAbZipDecryptState S = FState;
    auto* P = static_cast<uint8_t*>(aBuffer);
    for (int64_t I = 0; I < aCount; ++I)
        P[I] = DecryptByte(S, P[I]);
    FState = S;
}

// ---------------------------------------------------------------------------
// TAbDfDecryptStream

TAbDfDecryptStream::TAbDfDecryptStream(TStream* aStream, uint32_t aCheckValue,
                                       const std::string& aPassphrase)
    : FCheckValue(aCheckValue), FEngine(std::make_unique<TAbZipDecryptEngine>()),
      FPassphrase(aPassphrase), FStream(aStream) {}

TAbDfDecryptStream::~TAbDfDecryptStream() {
    if (FOwnsStream) delete FStream;
}

bool TAbDfDecryptStream::IsValid() {
    TAbZipEncryptHeader Header{};
    FStream->ReadBuffer(Header.data(), static_cast<int64_t>(Header.size()));
    FReady = FEngine->VerifyHeader(Header, FPassphrase, FCheckValue);
    if (!FReady) FStream->Seek(-static_cast<int64_t>(Header.size()), soCurrent);
    return FReady;
}

int64_t TAbDfDecryptStream::Read(void* aBuffer, int64_t aCount) {
    KIVO_ASSERT(FReady, "TAbDfDecryptStream.Read: the stream header has not been verified");
    int64_t N = FStream->Read(aBuffer, aCount);
    if (N > 0) FEngine->DecodeBuffer(aBuffer, N);
    return N;
}

int64_t TAbDfDecryptStream::Write(const void*, int64_t) {
    KIVO_ASSERT(false, "TAbDfDecryptStream.Write: the stream is read-only");
    return 0;
}

int64_t TAbDfDecryptStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    return FStream->Seek(Offset, Origin);
}

} // namespace kivo
