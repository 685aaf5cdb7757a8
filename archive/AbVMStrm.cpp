#include "archive/AbVMStrm.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"

namespace kivo {

namespace {

constexpr int64_t PageMask = ~static_cast<int64_t>(AbVMSPageSize - 1);

} // namespace

TAbVirtualMemoryStream::TAbVirtualMemoryStream() {
    auto Page = std::make_unique<TvmsPage>();
    Page->vpStmOfs = 0;
    Page->vpLRU = NextStamp();
    Page->vpDirty = false;
    std::memset(Page->vpData, 0, sizeof Page->vpData);
    vmsCachePage = Page.get();
    Page->vpOrder = vmsRecency.insert(vmsRecency.end(), Page.get());
    vmsPageList.push_back(std::move(Page));
    SetMaxMemToUse(0x800000);
}

TAbVirtualMemoryStream::~TAbVirtualMemoryStream() {
    vmsPageList.clear();
    if (vmsSwapStream) {
        vmsSwapStream.reset();
        DeleteFile(vmsSwapFileName);
    }
}

void TAbVirtualMemoryStream::MarkUsed(TvmsPage* Page) {
    Page->vpLRU = NextStamp();
    vmsRecency.splice(vmsRecency.end(), vmsRecency, Page->vpOrder);
}

int32_t TAbVirtualMemoryStream::NextStamp() {
    if (vmsLRU == INT32_MAX) {
        for (auto& Page : vmsPageList)
            Page->vpLRU = 0;
        vmsLRU = 0;
    }
    return ++vmsLRU;
}

void TAbVirtualMemoryStream::SetMaxMemToUse(uint32_t Value) {
    int64_t Pages = (static_cast<int64_t>(Value) + AbVMSPageSize - 1) / AbVMSPageSize;
    Pages = std::clamp<int64_t>(Pages, 1, AbVMSMaxPages);
    while (static_cast<int64_t>(vmsPageList.size()) > Pages)
        EvictLeastRecent();
    vmsCachePage = vmsPageList.empty() ? nullptr : vmsPageList.front().get();
    vmsMaxPages = static_cast<int32_t>(Pages);
    vmsMaxMemToUse = static_cast<uint32_t>(Pages * AbVMSPageSize);
}

size_t TAbVirtualMemoryStream::LowerBound(int64_t StmOfs) const {
    if (vmsPageList.size() > 3) {
        auto It = std::lower_bound(
            vmsPageList.begin(), vmsPageList.end(), StmOfs,
            [](const std::unique_ptr<TvmsPage>& P, int64_t Ofs) { return P->vpStmOfs < Ofs; });
        return static_cast<size_t>(It - vmsPageList.begin());
    }
    size_t I = 0;
    while (I < vmsPageList.size() && vmsPageList[I]->vpStmOfs < StmOfs)
        ++I;
    return I;
}

void TAbVirtualMemoryStream::OpenSwapFile() {
    std::string Name;
    try {
        Name = MakeTempFileName(vmsSwapFileDir, true);
        vmsSwapStream =
            std::make_unique<TBufferedFileStream>(Name, fmOpenReadWrite | fmShareExclusive, 32768);
    } catch (...) {
        vmsSwapStream.reset();
        if (!Name.empty() && PathExists(Name) && !DeleteFile(Name)) throw EInOutError(errno);
        throw EAbVMSErrorOpenSwap(Name);
    }
    vmsSwapFileName = Name;
}

void TAbVirtualMemoryStream::SwapOut(TvmsPage* Page) {
    if (!vmsSwapStream) OpenSwapFile();
    if (vmsSwapStream->Seek(Page->vpStmOfs, soBeginning) != Page->vpStmOfs)
        throw EAbVMSSeekFail(vmsSwapFileName);
    int64_t Written = 0;
    try {
        Written = vmsSwapStream->Write(Page->vpData, AbVMSPageSize);
    } catch (const EWriteError&) {
        Written = 0; // an earlier buffered block could not be written
    }
    if (Written != AbVMSPageSize) throw EAbVMSWriteFail(AbVMSPageSize, vmsSwapFileName);
    Page->vpDirty = false;
    vmsSwapFileSize = std::max(vmsSwapFileSize, Page->vpStmOfs + AbVMSPageSize);
}

std::unique_ptr<TAbVirtualMemoryStream::TvmsPage> TAbVirtualMemoryStream::EvictLeastRecent() {
    TvmsPage* Page = vmsRecency.front();
    const size_t Victim = LowerBound(Page->vpStmOfs);
    if (Page->vpDirty) SwapOut(Page);
    vmsRecency.pop_front();
    std::unique_ptr<TvmsPage> Result = std::move(vmsPageList[Victim]);
    vmsPageList.erase(vmsPageList.begin() + static_cast<std::ptrdiff_t>(Victim));
    if (vmsCachePage == Page) vmsCachePage = nullptr;
    return Result;
}

TAbVirtualMemoryStream::TvmsPage* TAbVirtualMemoryStream::GetPage(int64_t StmOfs) {
    size_t Pos = LowerBound(StmOfs);
    if (Pos < vmsPageList.size() && vmsPageList[Pos]->vpStmOfs == StmOfs) {
        TvmsPage* Found = vmsPageList[Pos].get();
        MarkUsed(Found);
        vmsCachePage = Found;
        return Found;
    }
    std::unique_ptr<TvmsPage> Page;
    if (static_cast<int32_t>(vmsPageList.size()) < vmsMaxPages) {
        Page = std::make_unique<TvmsPage>();
    } else {
        Page = EvictLeastRecent();
    }
    Page->vpStmOfs = StmOfs;
    Page->vpLRU = NextStamp();
    Page->vpDirty = false;
    if (vmsSwapStream && StmOfs < vmsSwapFileSize) {
        if (vmsSwapStream->Seek(StmOfs, soBeginning) != StmOfs)
            throw EAbVMSSeekFail(vmsSwapFileName);
        if (vmsSwapStream->ReadUpTo(Page->vpData, AbVMSPageSize) != AbVMSPageSize)
            throw EAbVMSReadFail(AbVMSPageSize, vmsSwapFileName);
    } else {
        std::memset(Page->vpData, 0, sizeof Page->vpData);
    }
    // The list may have changed through an eviction: find the place again.
    Pos = LowerBound(StmOfs);
    TvmsPage* Result = Page.get();
    auto Placed =
        vmsPageList.insert(vmsPageList.begin() + static_cast<std::ptrdiff_t>(Pos), std::move(Page));
    try {
        Result->vpOrder = vmsRecency.insert(vmsRecency.end(), Result);
    } catch (...) {
        vmsPageList.erase(Placed);
        throw;
    }
    vmsCachePage = Result;
    return Result;
}

int64_t TAbVirtualMemoryStream::Read(void* Buffer, int64_t Count) {
    if (vmsPosition < 0) return 0;
    Count = std::max<int64_t>(0, std::min(Count, vmsSize - vmsPosition));
    auto* Out = static_cast<uint8_t*>(Buffer);
    int64_t Done = 0;
    while (Done < Count) {
        int64_t PageOfs = vmsPosition & PageMask;
        TvmsPage* Page = (vmsCachePage != nullptr && vmsCachePage->vpStmOfs == PageOfs)
                             ? vmsCachePage
                             : GetPage(PageOfs);
        auto InPage = static_cast<int32_t>(vmsPosition - PageOfs);
        int64_t N = std::min<int64_t>(Count - Done, AbVMSPageSize - InPage);
        std::memcpy(Out + Done, Page->vpData + InPage, static_cast<size_t>(N));
        Done += N;
        vmsPosition += N;
    }
    return Count;
}

int64_t TAbVirtualMemoryStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0 || vmsPosition < 0 || Count > INT64_MAX - vmsPosition) return 0;
    const auto* In = static_cast<const uint8_t*>(Buffer);
    int64_t Done = 0;
    while (Done < Count) {
        int64_t PageOfs = vmsPosition & PageMask;
        TvmsPage* Page = (vmsCachePage != nullptr && vmsCachePage->vpStmOfs == PageOfs)
                             ? vmsCachePage
                             : GetPage(PageOfs);
        auto InPage = static_cast<int32_t>(vmsPosition - PageOfs);
        int64_t N = std::min<int64_t>(Count - Done, AbVMSPageSize - InPage);
        std::memcpy(Page->vpData + InPage, In + Done, static_cast<size_t>(N));
        Page->vpDirty = true;
        Done += N;
        vmsPosition += N;
        if (vmsPosition > vmsSize) vmsSize = vmsPosition;
    }
    return Count;
}

int64_t TAbVirtualMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    switch (Origin) {
    case soBeginning: vmsPosition = Offset; break;
    case soCurrent: vmsPosition += Offset; break;
    case soEnd: vmsPosition = vmsSize + Offset; break;
    default: throw EAbVMSInvalidOrigin(static_cast<int32_t>(Origin));
    }
    return vmsPosition;
}

void TAbVirtualMemoryStream::SetSize(int64_t NewSize) {
    if (NewSize < 0) NewSize = 0;
    if (NewSize < vmsSize) {
        while (vmsPageList.size() > 1 && vmsPageList.back()->vpStmOfs >= NewSize) {
            vmsRecency.erase(vmsPageList.back()->vpOrder);
            vmsPageList.pop_back();
        }
        TvmsPage* First = vmsPageList.empty() ? nullptr : vmsPageList.front().get();
        if (First != nullptr && First->vpStmOfs >= NewSize) {
            // The page that always stays now lies past the end: forget its data.
            std::memset(First->vpData, 0, sizeof First->vpData);
            First->vpDirty = false;
        }
        vmsCachePage = First;
        int64_t Rounded = (NewSize + AbVMSPageSize - 1) & PageMask;
        if (vmsSwapFileSize > Rounded) {
            vmsSwapFileSize = Rounded;
            // Cut the file too: once a later page raises vmsSwapFileSize
            // again, pages in between that were never rewritten must read
            // as zeros, not as what they held before.
            if (vmsSwapStream) vmsSwapStream->SetSize(Rounded);
        }
        // Bytes past the new end in the last page must read as zeros if the
        // stream grows again.
        int64_t Tail = NewSize & ~PageMask;
        if (Tail != 0) {
            TvmsPage* Last = GetPage(NewSize & PageMask);
            std::memset(Last->vpData + Tail, 0, static_cast<size_t>(AbVMSPageSize - Tail));
            Last->vpDirty = true;
        }
    }
    vmsSize = NewSize;
    if (vmsPosition > vmsSize) vmsPosition = vmsSize;
}

} // namespace kivo
