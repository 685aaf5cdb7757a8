// What the FTP halves of both Internet layers share: the check of a server
// name, the split of a search into folder and name pattern, and the entries
// a find handle hands out. The handles themselves are each layer's own.
// Internal to platform.
#pragma once

#include <string>
#include <vector>

#include "platform/FtpListing.h"
#include "platform/Internet.h"
#include "runtime/SysUtils.h"

namespace kivo {

// Whether ServerName can name a server: not empty, and no path, user
// information, query or blank in it.
bool ValidFtpServerName(const std::string& ServerName);

// The connection Found (each layer's own, looked up from a call's handle)
// when it can take a command now; null with ERROR_FTP_TRANSFER_IN_PROGRESS
// while a file is open through it.
template <class TConnect> TConnect* ReadyFtpConnection(TConnect* Found) {
    if (Found == nullptr || Found->OpenFile == nullptr) return Found;
    SetLastError(ERROR_FTP_TRANSFER_IN_PROGRESS);
    return nullptr;
}

// A search "folder/pattern" split at its last "/": Folder keeps the "/" and
// is empty for a search without one (the current folder). False, with
// ERROR_INVALID_PARAMETER_VALUE, for a search that could smuggle a second
// command onto the control connection.
struct TFtpSearch {
    std::string Folder;
    std::string Pattern;
};
bool SplitFtpSearch(const std::string& SearchFile, TFtpSearch& Search);

// The entries of one listing a find handle hands out, in order.
struct TFtpFindList {
    std::vector<TFtpListEntry> Entries;
    size_t Next = 0;
};

// The entries of Listing whose names match Pattern, without "." and "..".
TFtpFindList MatchingFtpEntries(std::vector<TFtpListEntry> Listing, const std::string& Pattern);
// Fills FindData with the next entry; false with ERROR_NO_MORE_FILES_VALUE
// when none is left.
bool TakeNextFtpEntry(TFtpFindList& List, WIN32_FIND_DATAW& FindData);

} // namespace kivo
