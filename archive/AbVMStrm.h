// TAbVirtualMemoryStream: a memory stream that keeps a bounded number of
// 4 KiB pages in memory and the rest in a temporary swap file. The ZIP writer
// builds a new archive in it before copying the result over the old file.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>

#include "runtime/Classes.h"

namespace kivo {

constexpr int32_t AbVMSPageSize = 4096;
constexpr int32_t AbVMSMaxPages = 2048; // 8 MiB of pages at most

class TAbVirtualMemoryStream : public TStream {
public:
    TAbVirtualMemoryStream();
    ~TAbVirtualMemoryStream() override;
    TAbVirtualMemoryStream(const TAbVirtualMemoryStream&) = delete;
    TAbVirtualMemoryStream& operator=(const TAbVirtualMemoryStream&) = delete;

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Origins beginning, current and end, without clamping; any other origin
    // raises EAbVMSInvalidOrigin.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return vmsSize; }
    void SetSize(int64_t NewSize) override;

    // Bytes of pages allowed in memory: rounded up to whole pages, at least
    // one page and at most 8 MiB; reads back as pages x 4096.
    uint32_t MaxMemToUse() const { return vmsMaxMemToUse; }
    void SetMaxMemToUse(uint32_t Value);
    const std::string& SwapFileDirectory() const { return vmsSwapFileDir; }
    void SetSwapFileDirectory(const std::string& Value) { vmsSwapFileDir = Value; }

    // Name of the swap file, empty until a page first had to leave memory.
    const std::string& SwapFileName() const { return vmsSwapFileName; }
    // Pages currently in memory.
    int32_t PagesInMemory() const { return static_cast<int32_t>(vmsPageList.size()); }

private:
    struct TvmsPage {
        int64_t vpStmOfs; // stream offset, a multiple of the page size
        int32_t vpLRU;    // last-use stamp
        bool vpDirty;
        std::list<TvmsPage*>::iterator vpOrder; // its place in vmsRecency
        uint8_t vpData[AbVMSPageSize];
    };
    // In stream order; a deque, because sequential use adds pages at the end
    // and evicts them from the front.
    using TvmsPageList = std::deque<std::unique_ptr<TvmsPage>>;

    int32_t NextStamp();
    // Puts a page in memory at the most recently used end of vmsRecency.
    void MarkUsed(TvmsPage* Page);
    // The page at a page-aligned offset, made the cache page.
    TvmsPage* GetPage(int64_t StmOfs);
    // Index in vmsPageList of the first page at or after StmOfs.
    size_t LowerBound(int64_t StmOfs) const;
    void OpenSwapFile();
    void SwapOut(TvmsPage* Page);
    // Removes the least recently used page from the list (written to the
    // swap file first when dirty) and returns it.
    std::unique_ptr<TvmsPage> EvictLeastRecent();

    TvmsPage* vmsCachePage = nullptr;
    int32_t vmsLRU = 0;
    uint32_t vmsMaxMemToUse = 0;
    int32_t vmsMaxPages = 1;
    TvmsPageList vmsPageList;
    // The pages in memory from least to most recently used, so that the page
    // to evict is found at once, however many pages are kept.
    std::list<TvmsPage*> vmsRecency;
    int64_t vmsPosition = 0;
    int64_t vmsSize = 0;
    std::string vmsSwapFileDir;
    std::string vmsSwapFileName;
    int64_t vmsSwapFileSize = 0;
    std::unique_ptr<TBufferedFileStream> vmsSwapStream;
};

} // namespace kivo
