// A private home for each test: the two install folders live below a fresh
// temporary folder, the window runs offscreen, and screenshots go to the
// build tree's artifacts folder.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QWidget>
#include <gtest/gtest.h>
#include <string>

namespace kivo::test {

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string LocalFolder() const;  // .../data/KIVO/KIVO Profile
    std::string PublicFolder() const; // .../home/Public/KIVO Profile
    // Puts a server program into Folder: a script that records the switch
    // it was started with in "<Folder>/record".
    std::string PlaceServer(const std::string& Folder) const;
    // Waits (generously) for the server program's record; empty when none came.
    std::string AwaitRecord(const std::string& Folder) const;
    // Saves a picture of Widget as artifacts/app/<Name>.png.
    void Screenshot(QWidget& Widget, const std::string& Name) const;

    std::string Root;
};

// The texts of a box's buttons in order, joined by "|".
std::string ButtonTexts(QMessageBox& Box);
// The box's button with Text, or nullptr.
QAbstractButton* ButtonNamed(QMessageBox& Box, const char* Text);

} // namespace kivo::test
