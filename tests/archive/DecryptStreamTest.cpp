// Traditional ZIP decryption: the engine and the decrypt stream against an
// encoder written from the application note, the check byte, retries over
// the same inner stream, the contract checks, and password keying in the
// ANSI code page with archives made by Info-ZIP.
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "archive/AbDfCryS.h"
#include "archive/AbUnzPrc.h"
#include "archive/AbUnzper.h"
#include "runtime/CodePages.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

class DecryptStream : public ::testing::Test {
protected:
    void SetUp() override { SetSystemCodePages({1252, 437}); }
};

std::string ReadAll(TStream& S) {
    std::string Out;
    char Buf[1000];
    for (;;) {
        int64_t N = S.Read(Buf, sizeof Buf);
        if (N <= 0) break;
        Out.append(Buf, static_cast<size_t>(N));
    }
    return Out;
}

TEST_F(DecryptStream, DecryptsWhatTheReferenceEncoderWrote) {
    const std::string Plain = RandomBytes(5000, 7);
    const std::string Cipher = ZipCryptoEncrypt(Plain, "secret", 0xA7);
    TReadOnlyMemoryStream Inner(Cipher.data(), static_cast<int64_t>(Cipher.size()));
    TAbDfDecryptStream S(&Inner, 0xA7123456, "secret");
    ASSERT_TRUE(S.IsValid());
    EXPECT_EQ(Inner.Position(), 12);
    EXPECT_EQ(ReadAll(S), Plain);
    // The end of the inner stream: fewer bytes, then none.
    char B;
    EXPECT_EQ(S.Read(&B, 1), 0);
}

TEST_F(DecryptStream, OnlyTheHighByteOfTheCheckValueCounts) {
    const std::string Cipher = ZipCryptoEncrypt("data", "pw", 0x5C);
    for (uint32_t Check : {0x5C000000u, 0x5CFFFFFFu, 0x5C123456u}) {
        TReadOnlyMemoryStream Inner(Cipher.data(), static_cast<int64_t>(Cipher.size()));
        TAbDfDecryptStream S(&Inner, Check, "pw");
        EXPECT_TRUE(S.IsValid()) << std::hex << Check;
    }
    TReadOnlyMemoryStream Inner(Cipher.data(), static_cast<int64_t>(Cipher.size()));
    TAbDfDecryptStream S(&Inner, 0x5D000000u, "pw");
    EXPECT_FALSE(S.IsValid());
}

TEST_F(DecryptStream, FailedCheckRewindsSoTheNextPasswordReadsTheSameHeader) {
    const std::string Plain = "the quick brown fox";
    const std::string Cipher = "xyz" + ZipCryptoEncrypt(Plain, "right", 0x42);
    TReadOnlyMemoryStream Inner(Cipher.data(), static_cast<int64_t>(Cipher.size()));
    Inner.SetPosition(3);
    {
        TAbDfDecryptStream Wrong(&Inner, 0x42000000, "wrong");
        ASSERT_FALSE(Wrong.IsValid());
        EXPECT_EQ(Inner.Position(), 3);
        EXPECT_FALSE(Wrong.IsValid()); // again from the same header, again refused
    }
    TAbDfDecryptStream Right(&Inner, 0x42000000, "right");
    ASSERT_TRUE(Right.IsValid());
    EXPECT_EQ(ReadAll(Right), Plain);
}

TEST_F(DecryptStream, ContractChecksAndShortHeader) {
    const std::string Cipher = ZipCryptoEncrypt("abc", "pw", 1);
    TReadOnlyMemoryStream Inner(Cipher.data(), static_cast<int64_t>(Cipher.size()));
    TAbDfDecryptStream S(&Inner, 0x01000000, "pw");
    char B[4];
    try {
        S.Read(B, 1);
        FAIL() << "read before the header was verified";
    } catch (const EAssertionFailed& E) {
        EXPECT_NE(
            E.Message().find("TAbDfDecryptStream.Read: the stream header has not been verified"),
            std::string::npos);
    }
    EXPECT_EQ(Inner.Position(), 0); // nothing was read
    try {
        S.Write("x", 1);
        FAIL();
    } catch (const EAssertionFailed& E) {
        EXPECT_NE(E.Message().find("TAbDfDecryptStream.Write: the stream is read-only"),
                  std::string::npos);
    }
    TAbZipDecryptEngine Engine;
    try {
        Engine.Decode(0);
        FAIL();
    } catch (const EAssertionFailed& E) {
        EXPECT_NE(E.Message().find(
                      "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first"),
                  std::string::npos);
    }
    try {
        Engine.VerifyHeader(TAbZipEncryptHeader{}, "", 0);
        FAIL();
    } catch (const EAssertionFailed& E) {
        EXPECT_NE(E.Message().find("TAbZipDecryptEngine.VerifyHeader: need a passphrase"),
                  std::string::npos);
    }
    // A header cut short fails with the inner stream's read error.
    TReadOnlyMemoryStream Short(Cipher.data(), 11);
    TAbDfDecryptStream Cut(&Short, 0x01000000, "pw");
    EXPECT_THROW(Cut.IsValid(), EReadError);
}

TEST_F(DecryptStream, PasswordsAreKeyedInTheAnsiCodePage) {
    // "pässwort": Info-ZIP was given its cp1252 bytes for one archive and
    // its UTF-8 bytes for the other.
    const std::string Password = "p\xC3\xA4sswort";
    auto Extract = [&](const std::string& Archive) {
        TAbUnZipper U(nullptr);
        U.SetPassword(Password);
        U.SetFileName(TestData(Archive));
        TMemoryStream Out;
        int32_t Failure = -1;
        U.OnProcessItemFailure = [&](TAbBaseBrowser*, TAbArchiveItem*, TAbProcessType,
                                     TAbErrorClass, int32_t Code) { Failure = Code; };
        U.ExtractToStream("m/docs/readme.txt", &Out);
        return std::make_pair(Failure,
                              std::string(reinterpret_cast<const char*>(Out.Memory()), Out.Size()));
    };
    auto [Cp1252Failure, Cp1252Data] = Extract("enc_pw_cp1252.zip");
    EXPECT_EQ(Cp1252Failure, -1);
    EXPECT_EQ(Cp1252Data.size(), 9000u);
    EXPECT_EQ(Extract("enc_pw_utf8.zip").first, AbErrZipInvalidPassword);

    // Under another ANSI code page the same text keys differently; an ASCII
    // password keys as its bytes under any.
    SetSystemCodePages({1251, 866});
    EXPECT_EQ(Extract("enc_pw_cp1252.zip").first, AbErrZipInvalidPassword);
    const std::string Cipher = ZipCryptoEncrypt("ascii", "secret", 0x33);
    TReadOnlyMemoryStream Inner(Cipher.data(), static_cast<int64_t>(Cipher.size()));
    TAbDfDecryptStream S(&Inner, 0x33000000, "secret");
    EXPECT_TRUE(S.IsValid());
}

// An encrypted entry whose header check byte is the high byte of the DOS
// time, not of the CRC.
std::string TimeCheckedArchive(uint16_t Flags) {
    TZipEntryDef E;
    E.RawName = "t.txt";
    const std::string Plain = "checked against the time";
    E.Data = ZipCryptoEncrypt(Plain, "pw", static_cast<uint8_t>(E.Time >> 8));
    E.Flags = Flags;
    E.CentralCrc = Crc32Of(Plain);
    E.CentralUncompressedSize = static_cast<int64_t>(Plain.size());
    return BuildZip({E});
}

TEST_F(DecryptStream, DataDescriptorItemsAreCheckedAgainstTheTime) {
    TTempDir Dir;
    for (uint16_t Flags : {uint16_t{0x0009}, uint16_t{0x0001}}) {
        WriteBytes(Dir / "a.zip", TimeCheckedArchive(Flags));
        TAbUnZipper U(nullptr);
        U.SetPassword("pw");
        U.SetFileName(Dir / "a.zip");
        int32_t Failure = -1;
        U.OnProcessItemFailure = [&](TAbBaseBrowser*, TAbArchiveItem*, TAbProcessType,
                                     TAbErrorClass, int32_t Code) { Failure = Code; };
        TMemoryStream Out;
        U.ExtractToStream("t.txt", &Out);
        if (Flags & 0x0008) {
            EXPECT_EQ(Failure, -1);
            EXPECT_EQ(Out.Size(), 24);
        } else {
            // Without bit 3 the CRC's high byte is expected: the check fails.
            EXPECT_EQ(Failure, AbErrZipInvalidPassword);
        }
    }
}

} // namespace
