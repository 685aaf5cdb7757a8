// Runs code on a new pseudo-terminal and answers what it asks, as a person
// at the keyboard would.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kivo::test {

// The result of a run on a pseudo-terminal.
struct TPtyResult {
    int Status = -1;    // exit status, -1 when the run ended by a signal
    std::string Output; // everything written to the terminal
};

// What to type, and when: each (Expect, Send) pair waits until Expect has
// appeared in the output since the last answer, then types Send.
using TPtyDialog = std::vector<std::pair<std::string, std::string>>;

// Runs Child in a new process whose controlling terminal and standard
// streams are a new pseudo-terminal of 40 rows and 120 columns; Child's
// result is the exit status. Ends when the process ends (or after a minute).
TPtyResult RunOnPty(const std::function<int()>& Child, const TPtyDialog& Dialog);

// Whether RunOnPty can run anything here: false on Windows, which has no
// pseudo-terminals (RunOnPty then returns Status -1 at once).
bool PtyAvailable();

} // namespace kivo::test
