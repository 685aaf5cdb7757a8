// Names of files and folders: the parts of a path and joining them. Pure text
// work, the same on every system.
#include <algorithm>

#include "platform/FileSystem.h"

namespace kivo {

std::string ExtractFilePath(std::string_view FileName) {
    size_t P = FileName.rfind(PathDelim);
    return P == std::string_view::npos ? std::string() : std::string(FileName.substr(0, P + 1));
}

std::string ExtractFileDir(std::string_view FileName) {
    size_t P = FileName.rfind(PathDelim);
    if (P == std::string_view::npos) return std::string();
    if (P == 0) return "/";
    return std::string(FileName.substr(0, P));
}

std::string ExtractFileName(std::string_view FileName) {
    size_t P = FileName.rfind(PathDelim);
    return std::string(P == std::string_view::npos ? FileName : FileName.substr(P + 1));
}

std::string ExtractFileExt(std::string_view FileName) {
    size_t Slash = FileName.rfind(PathDelim);
    size_t Dot = FileName.rfind('.');
    if (Dot == std::string_view::npos || (Slash != std::string_view::npos && Dot < Slash))
        return std::string();
    return std::string(FileName.substr(Dot));
}

std::string ChangeFileExt(std::string_view FileName, std::string_view Extension) {
    std::string Ext = ExtractFileExt(FileName);
    std::string Result(FileName.substr(0, FileName.size() - Ext.size()));
    Result += Extension;
    return Result;
}

std::string IncludeTrailingPathDelimiter(std::string_view Path) {
    std::string Result(Path);
    if (Result.empty() || Result.back() != PathDelim) Result += PathDelim;
    return Result;
}

std::string JoinPath(std::string_view Folder, std::string_view Name) {
    if (Folder.empty()) return std::string(Name);
    std::string Result(Folder);
    if (Result.back() != PathDelim) Result += PathDelim;
    Result += Name;
    return Result;
}

std::string ExcludeTrailingPathDelimiter(std::string_view Path) {
    std::string Result(Path);
    while (Result.size() > 1 && Result.back() == PathDelim)
        Result.pop_back();
    return Result;
}

std::string SystemPathText(std::string Path) {
#ifdef _WIN32
    std::replace(Path.begin(), Path.end(), '/', '\\');
#endif
    return Path;
}

} // namespace kivo
