#include "archive/AbCabTyp.h"

#include "archive/AbExcept.h"
#include "archive/AbPosKeep.h"
#include "platform/Cabinet.h"

namespace kivo {

namespace {

// The stream as the cabinet library's source; read errors become -1.
class TStreamCabinetSource : public ICabinetSource {
public:
    explicit TStreamCabinetSource(TStream* Stream) : FStream(Stream) {}
    int64_t Read(void* Buffer, int64_t Count) override {
        try {
            return FStream->Read(Buffer, Count);
        } catch (const std::exception&) {
            return -1;
        }
    }
    int64_t Seek(int64_t Offset, int Origin) override {
        const TSeekOrigin From = Origin == 1 ? soCurrent : Origin == 2 ? soEnd : soBeginning;
        try {
            return FStream->Seek(Offset, From);
        } catch (const std::exception&) {
            return -1;
        }
    }
    int64_t Tell() override { return FStream->Position(); }

private:
    TStream* FStream;
};

} // namespace

TAbArchiveType IdentifyCabStream(TStream* Stream) {
    TAbStreamPositionKeeper Keep(Stream);
    Stream->Seek(0, soBeginning);
    TStreamCabinetSource Source(Stream);
    switch (ProbeCabinet(Source)) {
    case caCabinet: return atCab;
    case caNotCabinet: return atUnknown;
    case caNoLibrary: break;
    }
    throw EAbNoCabinetDll();
}

} // namespace kivo
