// The registration action of the elevated copy: the server program started
// with its switch, and the two dialogs when it cannot be started. Runs in
// both builds (the server program is the stand-in built for each); the Qt
// boxes themselves are looked at in RunElevatedFormTest.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "support/FormFixture.h"
#include "tests/elevation/support/StandIns.h"

using namespace kivo;
using namespace kivo::test;

namespace {

enum TServerCase : uint8_t { scLocal, scPublic, scFolderOnly, scNoFolder };

struct TActionRow {
    const char* Name;
    TServerCase Server;
    const char* Tail;   // after the folder in the parameter string
    bool QuoteFolder;   // the folder field in double quotes
    const char* Record; // the switches the server got; nullptr: not started
    const char* Box;    // the text of the box
};

const TActionRow ActionRows[] = {
    {"StartsTheServerWithItsSwitch", scLocal, ";/regserver", false, "/regserver", "Success"},
    {"WithoutSeparatorTheServerStartsWithoutSwitch", scLocal, "", false, "", "Success"},
    {"QuotedFolderIsUsedWithoutItsQuotes", scPublic, ";/unregserver", true, "/unregserver",
     "Success"},
    {"MissingServerShowsTheDetailsThenFileNotFound", scFolderOnly, ";/regserver", false, nullptr,
     "Error (2) registering COM server"},
    // The same wording for unregistering.
    {"MissingFolderReportsPathNotFound", scNoFolder, ";/unregserver", false, nullptr,
     "Error (3) registering COM server"},
};

class ElevatedAction : public FormFixture, public ::testing::WithParamInterface<TActionRow> {};

TEST_P(ElevatedAction, StartsTheServerAndReportsTheStart) {
    const TActionRow& Row = GetParam();
    std::string Folder = Row.Server == scPublic ? PublicFolder() : LocalFolder();
    if (Row.Server == scNoFolder) Folder = Root + "/nowhere/KIVO Profile";
    if (Row.Server == scLocal || Row.Server == scPublic) PlaceServer(Folder);
    if (Row.Server == scFolderOnly) ForceDirectories(Folder);
    TStandInUserInterface Ui;
    const std::string Field = Row.QuoteFolder ? "\"" + Folder + "\"" : Folder;

    EXPECT_EQ(ElevatedServerAction(Field + Row.Tail), 0u); // 0 in every case

    EXPECT_EQ(InstallFolder, Folder);
    if (Row.Record != nullptr) {
        EXPECT_EQ(AwaitRecord(Folder), Row.Record);
    }
    const std::string Switch = std::string(Row.Tail).substr(std::string(Row.Tail).empty() ? 0 : 1);
    if (Row.Record == nullptr) {
        // The details first, in the library's information dialog.
        ASSERT_EQ(Ui.Order.size(), 2u);
        EXPECT_EQ(Ui.Order[0], "dlg:Informationen");
        // Paths as the system writes them ('\\' on Windows).
        EXPECT_EQ(Ui.Dialogs[0].Msg, "AppDir: " + SystemPathText(Folder) +
                                         "; Ausführen: " + SystemPathText(Folder + "/Zelbrix.exe") +
                                         "; Parameter: " + Switch);
        EXPECT_EQ(Ui.Dialogs[0].Type, mtInformation);
        EXPECT_EQ(Ui.Dialogs[0].Buttons, MsgDlgButtons({mbOK}));
    } else {
        EXPECT_TRUE(Ui.Dialogs.empty());
    }
    ASSERT_FALSE(Ui.Boxes.empty());
    EXPECT_EQ(Ui.Order.back(), "box:MAPI 64 COM Server");
    EXPECT_EQ(Ui.Boxes.back().Text, Row.Box);
    EXPECT_EQ(Ui.Boxes.back().Caption, "MAPI 64 COM Server");
    EXPECT_EQ(Ui.Boxes.back().Style, MB_OK | MB_ICONINFORMATION);
}

INSTANTIATE_TEST_SUITE_P(Rows, ElevatedAction, ::testing::ValuesIn(ActionRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
