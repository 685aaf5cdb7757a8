// The demo tour's steps over the window's state: download, register,
// unregister and delete, each clicked as a user would, with what happened
// printed and a screenshot of each window state and box. The views' tours
// (Qt on Linux, native on Windows) supply the driver: the clicks on their
// controls, the pictures, and the answers to the boxes.
#pragma once

#include <string>

#include "app/RunElevatedMain.h"

namespace kivo {

class ITourDriver {
public:
    virtual ~ITourDriver() = default;
    virtual TRunElevatedFormState& Form() = 0;
    // Clicks the control of the view as the user does; returns when the
    // handler has run (boxes it showed were answered by the driver).
    virtual void Click(TFormControl Control) = 0;
    // Saves a picture of the window; returns the file's path.
    virtual std::string SaveWindow(const std::string& Name) = 0;

    // The name of the step: the driver names the pictures of the boxes it
    // answers after it.
    std::string Step = "box";
    // Numbered file names in the screenshot folder, in order of saving.
    std::string NextPicture(const std::string& Folder, const std::string& Name);

private:
    int FPictures = 0;
};

// Prints "   box "<caption>": <text>  [pressing <button>]" for a box the
// driver answers with its default button.
void PrintBox(const std::string& Caption, const std::string& Text, const std::string& Pressed,
              const std::string& Picture);

// The tour's command line, "<program> <screenshot folder>": records the
// program's arguments and gives the folder; prints the usage and answers
// false when the line is wrong.
bool ReadTourArguments(int Argc, char** Argv, std::string& ShotDir);

// Runs the tour; 0 when every step did what it should, else 1.
int RunTourSteps(ITourDriver& Driver, const std::string& ShotDir);

} // namespace kivo
