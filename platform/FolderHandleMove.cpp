// The folder handle's destruction and moves, the same on every system; each
// system's file closes the handle its own way (Close).
#include <utility>

#include "platform/FolderHandle.h"

namespace kivo {

TFolderHandle::~TFolderHandle() {
    Close();
}

TFolderHandle::TFolderHandle(TFolderHandle&& Other) noexcept
    : FHandle(Other.FHandle), FError(Other.FError), FPath(std::move(Other.FPath)) {
    Other.FHandle = -1;
}

TFolderHandle& TFolderHandle::operator=(TFolderHandle&& Other) noexcept {
    if (this != &Other) {
        Close();
        FHandle = Other.FHandle;
        FError = Other.FError;
        FPath = std::move(Other.FPath);
        Other.FHandle = -1;
    }
    return *this;
}

} // namespace kivo
