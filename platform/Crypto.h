// The cryptography encrypted archives need: PBKDF2-HMAC-SHA1 key
// derivation, AES encryption of whole blocks (ECB, from which callers make
// counter mode) and HMAC-SHA1. OpenSSL's libcrypto on POSIX, the system's
// CNG (bcrypt) on Windows. Failures of the library are reported, never
// thrown: the caller knows what the failure means to its user.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kivo {

// Fills Out with OutSize key bytes made from Password and Salt in Rounds
// rounds; false when the library fails.
bool DerivePbkdf2HmacSha1(std::string_view Password, const uint8_t* Salt, size_t SaltSize,
                          unsigned Rounds, uint8_t* Out, size_t OutSize);

// Overwrites Size bytes that held a secret, in a way the compiler keeps.
void WipeSecret(void* Data, size_t Size);

// AES with a 16-, 24- or 32-byte key, encrypting 16-byte blocks one by one.
class TAesBlockCipher {
public:
    static constexpr size_t BlockSize = 16;
    // Valid() is false when the key size is wrong or the library fails.
    TAesBlockCipher(const uint8_t* Key, size_t KeySize);
    ~TAesBlockCipher();
    TAesBlockCipher(const TAesBlockCipher&) = delete;
    TAesBlockCipher& operator=(const TAesBlockCipher&) = delete;

    bool Valid() const { return FState != nullptr; }
    // Encrypts Size bytes, a multiple of BlockSize, in place; false when the
    // library fails.
    bool EncryptBlocks(uint8_t* Data, size_t Size);

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// A running HMAC-SHA1.
class THmacSha1 {
public:
    using TDigest = std::array<uint8_t, 20>;
    // Valid() is false when the library fails.
    THmacSha1(const uint8_t* Key, size_t KeySize);
    ~THmacSha1();
    THmacSha1(const THmacSha1&) = delete;
    THmacSha1& operator=(const THmacSha1&) = delete;

    bool Valid() const { return FState != nullptr; }
    bool Update(const uint8_t* Data, size_t Size);
    // The code over everything given to Update; once only.
    bool Final(TDigest& Digest);

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

} // namespace kivo
