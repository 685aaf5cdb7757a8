// AES-encrypted items as current archivers write them, extracted and tested
// through the built kivo-unzip: every key length, both vendor versions, a
// wrong password, changed data and a CRC that does not match.
#include <gtest/gtest.h>
#include <string>

#include "support/ZipFixtures.h"

using namespace kivo::ziptest;

namespace {

// What is done to the archive 7-Zip wrote before it is read.
enum TAesChange {
    acNone,        // as written (vendor version 2, no CRC)
    acVersion1,    // vendor version 1 with the data's CRC in both headers
    acVersion1Bad, // vendor version 1 with a CRC that does not match
    acFlipData,    // one byte of the encrypted data changed
    acFlipCode,    // one byte of the authentication code changed
};

struct TAesRow {
    const char* Name;
    const char* Strength; // 7-Zip's -mem value
    const char* Level;    // -mx0 stores, -mx5 deflates
    TAesChange Change;
    const char* Password;
    int Status;
    const char* Error; // part of the failure line, empty when none
};

std::ostream& operator<<(std::ostream& Out, const TAesRow& Row) {
    return Out << Row.Name;
}

const std::string Text = [] {
    std::string T;
    for (int I = 0; I < 4000; ++I)
        T += "line " + std::to_string(I * 7919 % 1000) + " of a text that compresses well\n";
    return T + RandomBytes(70000, 3);
}();

// The archive with one item, plain.txt, changed as the row says.
std::string Patched(std::string Zip, TAesChange Change) {
    const size_t Central = Zip.find("PK\x01\x02");
    const size_t Code = Central - 10; // the item's data ends at the directory
    switch (Change) {
    case acNone: break;
    case acVersion1:
    case acVersion1Bad: {
        const std::string Tag("\x01\x99\x07\x00\x02\x00"
                              "AE",
                              8);
        for (size_t At = Zip.find(Tag); At != std::string::npos; At = Zip.find(Tag, At + 1))
            Zip[At + 4] = 1;
        const std::string Crc = Le32(Crc32Of(Text) ^ (Change == acVersion1Bad ? 1u : 0u));
        Zip.replace(14, 4, Crc);
        Zip.replace(Central + 16, 4, Crc);
        break;
    }
    case acFlipData: Zip[Code - 100] ^= 0x40; break;
    case acFlipCode: Zip[Code + 3] ^= 0x01; break;
    }
    return Zip;
}

class KivoUnzipAes : public ::testing::TestWithParam<TAesRow> {};

TEST_P(KivoUnzipAes, ExtractsWhatWasEncryptedOrSaysWhyNot) {
    if (const std::string Missing = MissingTool({"7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const TAesRow& Row = GetParam();
    TTempDir Dir;
    WriteBytes(Dir / "plain.txt", Text);
    ASSERT_EQ(Shell("cd " + Quote(Dir.Path()) + " && 7zz a -tzip -mem=" + Row.Strength + " " +
                    Row.Level + " -psecret made.zip plain.txt >/dev/null"),
              0);
    WriteBytes(Dir / "a.zip", Patched(ReadBytes(Dir / "made.zip"), Row.Change));

    const std::string Args = Quote(Dir / "a.zip") + " -p " + Quote(Row.Password);
    TToolResult Tested = RunKivoUnzip("t " + Args, "C.UTF-8");
    TToolResult X = RunKivoUnzip("x " + Args + " -d " + Quote(Dir / "out"), "C.UTF-8");
    EXPECT_EQ(Tested.Status, Row.Status) << Tested.Err;
    EXPECT_EQ(X.Status, Row.Status) << X.Err;
    if (Row.Status == 0) {
        EXPECT_EQ(ReadBytes(Dir / "out/plain.txt"), Text);
        return;
    }
    EXPECT_NE(Tested.Err.find(std::string("plain.txt: ") + Row.Error), std::string::npos)
        << Tested.Err;
    EXPECT_NE(X.Err.find(std::string("plain.txt: ") + Row.Error), std::string::npos) << X.Err;
    // Data that failed its authentication or password is never written.
    if (Row.Change != acVersion1Bad) {
        EXPECT_FALSE(Exists(Dir / "out/plain.txt"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KivoUnzipAes,
    ::testing::Values(
        TAesRow{"Aes128Deflated", "AES128", "-mx5", acNone, "secret", 0, ""},
        TAesRow{"Aes192Deflated", "AES192", "-mx5", acNone, "secret", 0, ""},
        TAesRow{"Aes256Deflated", "AES256", "-mx5", acNone, "secret", 0, ""},
        TAesRow{"Aes256Stored", "AES256", "-mx0", acNone, "secret", 0, ""},
        TAesRow{"VendorVersion1", "AES256", "-mx5", acVersion1, "secret", 0, ""},
        TAesRow{"VendorVersion1BadCrc", "AES128", "-mx0", acVersion1Bad, "secret", 1,
                "Failed CRC Check"},
        TAesRow{"WrongPassword", "AES256", "-mx5", acNone, "Secret", 1,
                "Cannot extract file - invalid password"},
        TAesRow{"ChangedData", "AES128", "-mx0", acFlipData, "secret", 1,
                "Cannot extract file - authentication code of the encrypted data does not match"},
        TAesRow{"ChangedCode", "AES192", "-mx5", acFlipCode, "secret", 1,
                "Cannot extract file - authentication code of the encrypted data does not match"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
