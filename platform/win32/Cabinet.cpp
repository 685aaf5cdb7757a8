// Cabinet recognition through the system's cabinet library (FDI). The
// library reads through callbacks; its "file handle" is the source itself.
#include "platform/Cabinet.h"

#include <cstdlib>
#include <fdi.h>
#include <windows.h>

namespace kivo {

namespace {

ICabinetSource& SourceOf(INT_PTR File) {
    return *reinterpret_cast<ICabinetSource*>(File);
}

FNALLOC(Allocate) {
    return std::malloc(cb == 0 ? 1 : cb);
}

FNFREE(Free) {
    std::free(pv);
}

// The library opens files only to extract them, which the check never does.
FNOPEN(OpenNothing) {
    (void)pszFile;
    (void)oflag;
    (void)pmode;
    return -1;
}

FNREAD(ReadSource) {
    const int64_t N = SourceOf(hf).Read(pv, cb);
    return N < 0 ? static_cast<UINT>(-1) : static_cast<UINT>(N);
}

FNWRITE(WriteNothing) {
    (void)hf;
    (void)pv;
    (void)cb;
    return static_cast<UINT>(-1);
}

FNCLOSE(CloseNothing) {
    (void)hf;
    return 0;
}

FNSEEK(SeekSource) {
    const int64_t R = SourceOf(hf).Seek(dist, seektype);
    return R < 0 || R > 0x7FFFFFFF ? -1 : static_cast<long>(R);
}

} // namespace

TCabinetAnswer ProbeCabinet(ICabinetSource& Source) {
    ERF Error{};
    HFDI Fdi = ::FDICreate(Allocate, Free, OpenNothing, ReadSource, WriteNothing, CloseNothing,
                           SeekSource, cpuUNKNOWN, &Error);
    if (Fdi == nullptr) return caNoLibrary;
    FDICABINETINFO Info{};
    const BOOL IsCabinet = ::FDIIsCabinet(Fdi, reinterpret_cast<INT_PTR>(&Source), &Info);
    ::FDIDestroy(Fdi);
    return IsCabinet ? caCabinet : caNotCabinet;
}

} // namespace kivo
