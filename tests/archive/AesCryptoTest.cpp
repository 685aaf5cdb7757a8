// The cryptography behind AES-encrypted items, on whichever library the
// platform uses: published known answers for key derivation, AES and
// HMAC-SHA1, and whole items read through the decrypting stream.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "archive/AbAesCryS.h"
#include "archive/AbExcept.h"
#include "platform/Crypto.h"
#include "runtime/Classes.h"

namespace kivo {
namespace {

std::string Hex(const uint8_t* Data, size_t Size) {
    static const char Digits[] = "0123456789abcdef";
    std::string Out;
    for (size_t I = 0; I < Size; ++I) {
        Out += Digits[Data[I] >> 4];
        Out += Digits[Data[I] & 15];
    }
    return Out;
}

std::vector<uint8_t> Bytes(const std::string& Text) {
    return {Text.begin(), Text.end()};
}

std::vector<uint8_t> Counting(size_t Size) {
    std::vector<uint8_t> Out(Size);
    for (size_t I = 0; I < Size; ++I)
        Out[I] = static_cast<uint8_t>(I);
    return Out;
}

// RFC 6070.
TEST(PlatformCrypto, Pbkdf2HmacSha1KnownAnswers) {
    struct TRow {
        std::string Password, Salt;
        unsigned Rounds;
        size_t Size;
        std::string Expected;
    };
    for (const TRow& Row :
         {TRow{"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
          TRow{"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
          TRow{"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
               "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"}}) {
        std::vector<uint8_t> Out(Row.Size);
        const auto Salt = Bytes(Row.Salt);
        ASSERT_TRUE(DerivePbkdf2HmacSha1(Row.Password, Salt.data(), Salt.size(), Row.Rounds,
                                         Out.data(), Out.size()));
        EXPECT_EQ(Hex(Out.data(), Out.size()), Row.Expected) << Row.Password;
    }
}

// FIPS-197 appendix C, two blocks at once; a key of another size is refused.
TEST(PlatformCrypto, AesBlocksKnownAnswers) {
    const std::vector<uint8_t> Plain = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                        0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    for (const auto& [KeySize, Expected] :
         {std::pair<size_t, std::string>{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
          {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
          {32, "8ea2b7ca516745bfeafc49904b496089"}}) {
        const auto Key = Counting(KeySize);
        TAesBlockCipher Cipher(Key.data(), Key.size());
        ASSERT_TRUE(Cipher.Valid()) << KeySize;
        std::vector<uint8_t> Data = Plain;
        Data.insert(Data.end(), Plain.begin(), Plain.end());
        ASSERT_TRUE(Cipher.EncryptBlocks(Data.data(), Data.size()));
        EXPECT_EQ(Hex(Data.data(), Data.size()), Expected + Expected) << KeySize;
        EXPECT_FALSE(Cipher.EncryptBlocks(Data.data(), 15)) << "not a whole block";
    }
    const auto Odd = Counting(20);
    EXPECT_FALSE(TAesBlockCipher(Odd.data(), Odd.size()).Valid());
}

// RFC 2202, the data given in two parts.
TEST(PlatformCrypto, HmacSha1KnownAnswers) {
    struct TRow {
        std::vector<uint8_t> Key;
        std::string Data, Expected;
    };
    for (const TRow& Row : {TRow{std::vector<uint8_t>(20, 0x0b), "Hi There",
                                 "b617318655057264e28bc0b6fb378c8ef146be00"},
                            TRow{Bytes("Jefe"), "what do ya want for nothing?",
                                 "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
                            TRow{std::vector<uint8_t>(80, 0xaa),
                                 "Test Using Larger Than Block-Size Key - Hash Key First",
                                 "aa4ae5e15272d00e95705637ce8a3b55ed402112"}}) {
        THmacSha1 Mac(Row.Key.data(), Row.Key.size());
        ASSERT_TRUE(Mac.Valid());
        const auto Data = Bytes(Row.Data);
        ASSERT_TRUE(Mac.Update(Data.data(), 3));
        ASSERT_TRUE(Mac.Update(Data.data() + 3, Data.size() - 3));
        THmacSha1::TDigest Digest{};
        ASSERT_TRUE(Mac.Final(Digest));
        EXPECT_EQ(Hex(Digest.data(), Digest.size()), Row.Expected) << Row.Data;
    }
}

// An AES item as archivers store it: salt, verifier, the data encrypted in
// counter mode (little-endian counter from 1) and the first ten bytes of
// the HMAC-SHA1 over the encrypted data.
std::string EncryptItem(const std::string& Plain, const std::string& Password, uint8_t Strength) {
    const TAbZipAesInfo Info{2, Strength, 0};
    const auto KeyBytes = static_cast<size_t>(Info.KeyBytes());
    const std::vector<uint8_t> Salt = Counting(static_cast<size_t>(Info.SaltBytes()));
    std::vector<uint8_t> Keys(2 * KeyBytes + 2);
    EXPECT_TRUE(
        DerivePbkdf2HmacSha1(Password, Salt.data(), Salt.size(), 1000, Keys.data(), Keys.size()));
    TAesBlockCipher Cipher(Keys.data(), KeyBytes);
    std::vector<uint8_t> Data(Plain.begin(), Plain.end());
    for (size_t At = 0; At < Data.size(); At += 16) {
        uint8_t Block[16] = {};
        for (int B = 0; B < 8; ++B)
            Block[B] = static_cast<uint8_t>((At / 16 + 1) >> (8 * B));
        EXPECT_TRUE(Cipher.EncryptBlocks(Block, sizeof Block));
        for (size_t I = At; I < Data.size() && I < At + 16; ++I)
            Data[I] ^= Block[I - At];
    }
    THmacSha1 Mac(Keys.data() + KeyBytes, KeyBytes);
    THmacSha1::TDigest Code{};
    EXPECT_TRUE(Mac.Update(Data.data(), Data.size()) && Mac.Final(Code));
    return std::string(Salt.begin(), Salt.end()) +
           std::string(Keys.begin() + static_cast<std::ptrdiff_t>(2 * KeyBytes), Keys.end()) +
           std::string(Data.begin(), Data.end()) + std::string(Code.begin(), Code.begin() + 10);
}

struct TItemRow {
    const char* Name;
    uint8_t Strength;
    const char* Password; // the one tried; the item's is "secret"
    int Flip;             // a byte changed, counted from the end; 0 none
    const char* Outcome;  // "data", "wrong password", "authentication"
};

std::ostream& operator<<(std::ostream& Out, const TItemRow& Row) {
    return Out << Row.Name;
}

class AesItem : public ::testing::TestWithParam<TItemRow> {};

TEST_P(AesItem, DecryptsOrRefuses) {
    const TItemRow& Row = GetParam();
    std::string Plain;
    for (int I = 0; Plain.size() < 300000; ++I)
        Plain += "line " + std::to_string(I) + "\n";
    std::string Stored = EncryptItem(Plain, "secret", Row.Strength);
    if (Row.Flip != 0) Stored[Stored.size() - static_cast<size_t>(Row.Flip)] ^= 1;
    TMemoryStream Source;
    Source.Write(Stored.data(), static_cast<int64_t>(Stored.size()));
    Source.Seek(0, soBeginning);

    TAbAesDecryptStream Stream(&Source, static_cast<int64_t>(Stored.size()),
                               TAbZipAesInfo{2, Row.Strength, 0}, Row.Password);
    if (std::string(Row.Outcome) == "wrong password") {
        EXPECT_FALSE(Stream.IsValid());
        EXPECT_EQ(Source.Position(), 0) << "the stream goes back for the next password";
        return;
    }
    ASSERT_TRUE(Stream.IsValid());
    std::string Got(Plain.size(), '\0');
    // Odd-sized reads cross the key stream's blocks.
    for (size_t Done = 0; Done < Got.size();) {
        const int64_t N = Stream.Read(
            Got.data() + Done, std::min<int64_t>(12345, static_cast<int64_t>(Got.size() - Done)));
        ASSERT_GT(N, 0);
        Done += static_cast<size_t>(N);
    }
    if (std::string(Row.Outcome) == "authentication") {
        EXPECT_THROW(Stream.CheckAuthentication(), EAbZipAuthentication);
        return;
    }
    EXPECT_EQ(Got, Plain);
    EXPECT_NO_THROW(Stream.CheckAuthentication());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AesItem,
    ::testing::Values(TItemRow{"Aes128", 1, "secret", 0, "data"},
                      TItemRow{"Aes192", 2, "secret", 0, "data"},
                      TItemRow{"Aes256", 3, "secret", 0, "data"},
                      TItemRow{"WrongPassword", 3, "Secret", 0, "wrong password"},
                      TItemRow{"ChangedData", 3, "secret", 11, "authentication"},
                      TItemRow{"ChangedCode", 1, "secret", 1, "authentication"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace kivo
