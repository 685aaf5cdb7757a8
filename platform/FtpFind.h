// What the FTP halves of both Internet layers share: the check of a server
// name, the split of a search into folder and name pattern, and the entries
// a find handle hands out. The handles themselves are each layer's own.
// Internal to platform.
#pragma once

#include <string>
#include <vector>

#include "platform/FtpListing.h"
#include "platform/Internet.h"

namespace kivo {

// Whether ServerName can name a server: not empty, and no path, user
// information, query or blank in it.
bool ValidFtpServerName(const std::string& ServerName);

// A search "folder/pattern" split at its last "/": Folder keeps the "/" and
// is empty for a search without one (the current folder).
struct TFtpSearch {
    std::string Folder;
    std::string Pattern;
};
TFtpSearch SplitFtpSearch(const std::string& SearchFile);

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
