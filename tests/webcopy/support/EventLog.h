// Records every event of a TWebCopy as a line of text, so tests can check
// what a user's handlers would see and in which order.
#pragma once

#include <string>
#include <vector>

#include "runtime/DateTime.h"
#include "webcopy/Webcopy.h"

namespace kivo::test {

struct TEventLog {
    std::vector<std::string> Lines;
    std::vector<uint32_t> ProgressSizes; // the size argument of each OnCopyProgress
    std::vector<uint32_t> ProgressTotals;
    int ProgressCount = 0;

    explicit TEventLog(webcopy::TWebCopy& W) {
        using namespace webcopy;
        W.OnFileStart = [this](TWebCopy*, int32_t I) { Add("FileStart " + std::to_string(I)); };
        W.OnFileDone = [this](TWebCopy*, int32_t I) { Add("FileDone " + std::to_string(I)); };
        W.OnCopyDone = [this](TWebCopy*) { Add("CopyDone"); };
        W.OnCopyCancel = [this](TWebCopy*) { Add("CopyCancel"); };
        W.OnError = [this](TWebCopy*, int32_t C) { Add("Error " + std::to_string(C)); };
        W.OnErrorInfo = [this](TWebCopy*, int32_t C, const std::string& T) {
            Add("ErrorInfo " + std::to_string(C) + " " + T);
        };
        W.OnURLNotFound = [this](TWebCopy*, const std::string& U) { Add("URLNotFound " + U); };
        W.OnNoNewFileFound = [this](TWebCopy*, const std::string& F, TDateTime, TDateTime) {
            Add("NoNewFileFound " + F);
        };
        W.OnCopyOverWrite = [this](TWebCopy*, const std::string& F, bool&) {
            Add("CopyOverWrite " + F);
        };
        W.OnBeforeDialogShow = [this](TWebCopy*, TForm*) { Add("BeforeDialogShow"); };
        W.OnCopyProgress = [this](TWebCopy*, int32_t, uint32_t Size, uint32_t Total) {
            ++ProgressCount;
            ProgressSizes.push_back(Size);
            ProgressTotals.push_back(Total);
            if (Lines.empty() || Lines.back() != "Progress") Lines.push_back("Progress");
        };
    }
    void Add(std::string Line) { Lines.push_back(std::move(Line)); }
    bool Has(const std::string& Line) const {
        for (const auto& L : Lines)
            if (L == Line) return true;
        return false;
    }
};

} // namespace kivo::test
