#include "platform/FtpFind.h"

#include <utility>

#include "platform/InternetCommon.h"

namespace kivo {

bool ValidFtpServerName(const std::string& ServerName) {
    return !ServerName.empty() && ServerName.find_first_of("/\\@ \t\r\n?#") == std::string::npos;
}

bool SplitFtpSearch(const std::string& SearchFile, TFtpSearch& Search) {
    if (!SafeFtpText(SearchFile)) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return false;
    }
    const size_t Slash = SearchFile.rfind('/');
    Search.Folder = Slash == std::string::npos ? std::string() : SearchFile.substr(0, Slash + 1);
    Search.Pattern = Slash == std::string::npos ? SearchFile : SearchFile.substr(Slash + 1);
    return true;
}

TFtpFindList MatchingFtpEntries(std::vector<TFtpListEntry> Listing, const std::string& Pattern) {
    TFtpFindList List;
    for (TFtpListEntry& Entry : Listing)
        if (Entry.Name != "." && Entry.Name != ".." && FtpNameMatches(Pattern, Entry.Name))
            List.Entries.push_back(std::move(Entry));
    return List;
}

bool TakeNextFtpEntry(TFtpFindList& List, WIN32_FIND_DATAW& FindData) {
    if (List.Next >= List.Entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES_VALUE);
        return false;
    }
    const TFtpListEntry& Entry = List.Entries[List.Next++];
    FindData = WIN32_FIND_DATAW();
    FindData.dwFileAttributes =
        Entry.IsDirectory ? FILE_ATTRIBUTE_DIRECTORY_VALUE : FILE_ATTRIBUTE_NORMAL_VALUE;
    FindData.ftLastWriteTime.dwLowDateTime = static_cast<uint32_t>(Entry.FileTime);
    FindData.ftLastWriteTime.dwHighDateTime = static_cast<uint32_t>(Entry.FileTime >> 32);
    FindData.nFileSizeLow = static_cast<uint32_t>(Entry.Size);
    FindData.nFileSizeHigh = static_cast<uint32_t>(Entry.Size >> 32);
    FindData.cFileName = Entry.Name;
    return true;
}

} // namespace kivo
