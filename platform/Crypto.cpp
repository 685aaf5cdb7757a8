// The cryptography of encrypted archives through OpenSSL's libcrypto.
#include "platform/Crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

namespace kivo {

namespace {

struct TCipherFree {
    void operator()(EVP_CIPHER_CTX* Ctx) const { EVP_CIPHER_CTX_free(Ctx); }
};
struct TMacFree {
    void operator()(EVP_MAC* Mac) const { EVP_MAC_free(Mac); }
};
struct TMacCtxFree {
    void operator()(EVP_MAC_CTX* Ctx) const { EVP_MAC_CTX_free(Ctx); }
};

const EVP_CIPHER* EcbCipherFor(size_t KeySize) {
    switch (KeySize) {
    case 16: return EVP_aes_128_ecb();
    case 24: return EVP_aes_192_ecb();
    case 32: return EVP_aes_256_ecb();
    default: return nullptr;
    }
}

} // namespace

bool DerivePbkdf2HmacSha1(std::string_view Password, const uint8_t* Salt, size_t SaltSize,
                          unsigned Rounds, uint8_t* Out, size_t OutSize) {
    return PKCS5_PBKDF2_HMAC_SHA1(Password.data(), static_cast<int>(Password.size()), Salt,
                                  static_cast<int>(SaltSize), static_cast<int>(Rounds),
                                  static_cast<int>(OutSize), Out) == 1;
}

void WipeSecret(void* Data, size_t Size) {
    OPENSSL_cleanse(Data, Size);
}

struct TAesBlockCipher::TState {
    std::unique_ptr<EVP_CIPHER_CTX, TCipherFree> Ctx;
};

TAesBlockCipher::TAesBlockCipher(const uint8_t* Key, size_t KeySize) {
    const EVP_CIPHER* Cipher = EcbCipherFor(KeySize);
    auto State = std::make_unique<TState>();
    State->Ctx.reset(EVP_CIPHER_CTX_new());
    if (Cipher == nullptr || !State->Ctx ||
        EVP_EncryptInit_ex(State->Ctx.get(), Cipher, nullptr, Key, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(State->Ctx.get(), 0) != 1) {
        return;
    }
    FState = std::move(State);
}

TAesBlockCipher::~TAesBlockCipher() = default;

bool TAesBlockCipher::EncryptBlocks(uint8_t* Data, size_t Size) {
    int Out = 0;
    return FState && Size % BlockSize == 0 &&
           EVP_EncryptUpdate(FState->Ctx.get(), Data, &Out, Data, static_cast<int>(Size)) == 1 &&
           Out == static_cast<int>(Size);
}

struct THmacSha1::TState {
    std::unique_ptr<EVP_MAC, TMacFree> Mac;
    std::unique_ptr<EVP_MAC_CTX, TMacCtxFree> Ctx;
};

THmacSha1::THmacSha1(const uint8_t* Key, size_t KeySize) {
    auto State = std::make_unique<TState>();
    State->Mac.reset(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!State->Mac) return;
    State->Ctx.reset(EVP_MAC_CTX_new(State->Mac.get()));
    char Digest[] = "SHA1";
    const OSSL_PARAM Params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, Digest, 0),
                                 OSSL_PARAM_END};
    if (!State->Ctx || EVP_MAC_init(State->Ctx.get(), Key, KeySize, Params) != 1) return;
    FState = std::move(State);
}

THmacSha1::~THmacSha1() = default;

bool THmacSha1::Update(const uint8_t* Data, size_t Size) {
    return FState && EVP_MAC_update(FState->Ctx.get(), Data, Size) == 1;
}

bool THmacSha1::Final(TDigest& Digest) {
    size_t Size = 0;
    return FState && EVP_MAC_final(FState->Ctx.get(), Digest.data(), &Size, Digest.size()) == 1 &&
           Size == Digest.size();
}

} // namespace kivo
