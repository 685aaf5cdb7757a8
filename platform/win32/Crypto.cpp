// The cryptography of encrypted archives through the system's CNG (bcrypt):
// an algorithm provider per use, and the key or hash object made from it.
#include "platform/Crypto.h"

#include <algorithm>
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

namespace kivo {

namespace {

bool Succeeded(NTSTATUS Status) {
    return Status >= 0;
}

// An open algorithm provider, closed when the object goes.
class TProvider {
public:
    TProvider(const wchar_t* Algorithm, ULONG Flags) {
        if (!Succeeded(::BCryptOpenAlgorithmProvider(&FHandle, Algorithm, nullptr, Flags)))
            FHandle = nullptr;
    }
    ~TProvider() {
        if (FHandle != nullptr) ::BCryptCloseAlgorithmProvider(FHandle, 0);
    }
    TProvider(const TProvider&) = delete;
    TProvider& operator=(const TProvider&) = delete;
    BCRYPT_ALG_HANDLE Handle() const { return FHandle; }

private:
    BCRYPT_ALG_HANDLE FHandle = nullptr;
};

} // namespace

bool DerivePbkdf2HmacSha1(std::string_view Password, const uint8_t* Salt, size_t SaltSize,
                          unsigned Rounds, uint8_t* Out, size_t OutSize) {
    TProvider Hmac(BCRYPT_SHA1_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    if (Hmac.Handle() == nullptr) return false;
    // The API takes non-const pointers it only reads.
    auto* Secret = reinterpret_cast<PUCHAR>(const_cast<char*>(Password.data()));
    return Succeeded(::BCryptDeriveKeyPBKDF2(
        Hmac.Handle(), Secret, static_cast<ULONG>(Password.size()), const_cast<PUCHAR>(Salt),
        static_cast<ULONG>(SaltSize), Rounds, Out, static_cast<ULONG>(OutSize), 0));
}

void WipeSecret(void* Data, size_t Size) {
    ::SecureZeroMemory(Data, Size);
}

struct TAesBlockCipher::TState {
    TProvider Aes{BCRYPT_AES_ALGORITHM, 0};
    BCRYPT_KEY_HANDLE Key = nullptr;
    ~TState() {
        if (Key != nullptr) ::BCryptDestroyKey(Key);
    }
};

TAesBlockCipher::TAesBlockCipher(const uint8_t* Key, size_t KeySize) {
    if (KeySize != 16 && KeySize != 24 && KeySize != 32) return;
    auto State = std::make_unique<TState>();
    if (State->Aes.Handle() == nullptr) return;
    auto* Mode = reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB));
    if (!Succeeded(::BCryptSetProperty(State->Aes.Handle(), BCRYPT_CHAINING_MODE, Mode,
                                       sizeof BCRYPT_CHAIN_MODE_ECB, 0)) ||
        !Succeeded(::BCryptGenerateSymmetricKey(State->Aes.Handle(), &State->Key, nullptr, 0,
                                                const_cast<PUCHAR>(Key),
                                                static_cast<ULONG>(KeySize), 0))) {
        return;
    }
    FState = std::move(State);
}

TAesBlockCipher::~TAesBlockCipher() = default;

bool TAesBlockCipher::EncryptBlocks(uint8_t* Data, size_t Size) {
    ULONG Done = 0;
    return FState && Size % BlockSize == 0 &&
           Succeeded(::BCryptEncrypt(FState->Key, Data, static_cast<ULONG>(Size), nullptr, nullptr,
                                     0, Data, static_cast<ULONG>(Size), &Done, 0)) &&
           Done == Size;
}

struct THmacSha1::TState {
    TProvider Hmac{BCRYPT_SHA1_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG};
    BCRYPT_HASH_HANDLE Hash = nullptr;
    ~TState() {
        if (Hash != nullptr) ::BCryptDestroyHash(Hash);
    }
};

THmacSha1::THmacSha1(const uint8_t* Key, size_t KeySize) {
    auto State = std::make_unique<TState>();
    if (State->Hmac.Handle() == nullptr ||
        !Succeeded(::BCryptCreateHash(State->Hmac.Handle(), &State->Hash, nullptr, 0,
                                      const_cast<PUCHAR>(Key), static_cast<ULONG>(KeySize), 0))) {
        return;
    }
    FState = std::move(State);
}

THmacSha1::~THmacSha1() = default;

bool THmacSha1::Update(const uint8_t* Data, size_t Size) {
    if (!FState) return false;
    // The API counts in 32 bits.
    constexpr size_t Chunk = size_t{1} << 30;
    for (size_t Done = 0; Done < Size; Done += Chunk) {
        const auto N = static_cast<ULONG>(std::min(Size - Done, Chunk));
        if (!Succeeded(::BCryptHashData(FState->Hash, const_cast<PUCHAR>(Data + Done), N, 0)))
            return false;
    }
    return true;
}

bool THmacSha1::Final(TDigest& Digest) {
    return FState && Succeeded(::BCryptFinishHash(FState->Hash, Digest.data(),
                                                  static_cast<ULONG>(Digest.size()), 0));
}

} // namespace kivo
