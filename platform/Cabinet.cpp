#include "platform/Cabinet.h"

#include <cstdlib>
#include <cstring>
#include <mspack.h>

namespace kivo {

namespace {

// The library's file operations, all on the one source it is asked about.
struct TSourceSystem {
    mspack_system System;
    ICabinetSource* Source;
};

struct TSourceFile {
    ICabinetSource* Source;
};

mspack_file* OpenSource(mspack_system* Self, const char*, int Mode) {
    if (Mode != MSPACK_SYS_OPEN_READ) return nullptr;
    auto* File = static_cast<TSourceFile*>(std::malloc(sizeof(TSourceFile)));
    if (File == nullptr) return nullptr;
    File->Source = reinterpret_cast<TSourceSystem*>(Self)->Source;
    return reinterpret_cast<mspack_file*>(File);
}

void CloseSource(mspack_file* File) {
    std::free(File);
}

ICabinetSource& SourceOf(mspack_file* File) {
    return *reinterpret_cast<TSourceFile*>(File)->Source;
}

int ReadSource(mspack_file* File, void* Buffer, int Bytes) {
    if (Bytes < 0) return -1;
    return static_cast<int>(SourceOf(File).Read(Buffer, Bytes));
}

int WriteSource(mspack_file*, void*, int) {
    return -1;
}

int SeekSource(mspack_file* File, off_t Offset, int Mode) {
    int Origin = 0;
    if (Mode == MSPACK_SYS_SEEK_CUR) Origin = 1;
    if (Mode == MSPACK_SYS_SEEK_END) Origin = 2;
    return SourceOf(File).Seek(Offset, Origin) < 0 ? -1 : 0;
}

off_t TellSource(mspack_file* File) {
    return static_cast<off_t>(SourceOf(File).Tell());
}

void Message(mspack_file*, const char*, ...) {}

void* Allocate(mspack_system*, size_t Bytes) {
    return Bytes == 0 ? nullptr : std::malloc(Bytes);
}

void Free(void* Pointer) {
    std::free(Pointer);
}

void Copy(void* Source, void* Dest, size_t Bytes) {
    std::memmove(Dest, Source, Bytes);
}

} // namespace

TCabinetAnswer ProbeCabinet(ICabinetSource& Source) {
    int SelfTest = 0;
    MSPACK_SYS_SELFTEST(SelfTest);
    if (SelfTest != MSPACK_ERR_OK) return caNoLibrary;
    TSourceSystem System{{OpenSource, CloseSource, ReadSource, WriteSource, SeekSource, TellSource,
                          Message, Allocate, Free, Copy, nullptr},
                         &Source};
    mscab_decompressor* Decompressor = mspack_create_cab_decompressor(&System.System);
    if (Decompressor == nullptr) return caNoLibrary;
    char Name[] = "cabinet";
    mscabd_cabinet* Cabinet = Decompressor->open(Decompressor, Name);
    const TCabinetAnswer Answer = Cabinet != nullptr ? caCabinet : caNotCabinet;
    if (Cabinet != nullptr) Decompressor->close(Decompressor, Cabinet);
    mspack_destroy_cab_decompressor(Decompressor);
    return Answer;
}

} // namespace kivo
