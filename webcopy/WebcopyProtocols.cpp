// The protocol routines this build does not carry yet: file copies and
// SFTP. Each ends its job with a report that the protocol is not available.
#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

namespace {
const char* ProtocolName(TWebCopyProtocol Protocol) {
    static const char* const Names[] = {"wpHttp",           "wpFtp",        "wpFile",
                                        "wpFtpUpload",      "wpHttpUpload", "wpMultiFtp",
                                        "wpMultiFtpUpload", "wpFtpDelete",  "wpFtpList",
                                        "wpFtpTest",        "wpSftp",       "wpSftpUpload",
                                        "wpSftpDelete",     "wpSftpList"};
    return Protocol <= wpSftpList ? Names[Protocol] : "?";
}
} // namespace

bool TWebCopy::ProtocolNotAvailable(TWebCopyProtocol Protocol) {
    ReportError(wceProtocolNotAvailable,
                SProtocolNotAvailable + std::string(ProtocolName(Protocol)));
    return false;
}

bool TWebCopy::FileCopy(TWebCopyJob&) {
    return ProtocolNotAvailable(wpFile);
}
bool TWebCopy::SftpDownload(TWebCopyJob&, bool) {
    return ProtocolNotAvailable(wpSftp);
}
bool TWebCopy::SftpUpload(TWebCopyJob&) {
    return ProtocolNotAvailable(wpSftpUpload);
}
bool TWebCopy::SftpDelete(TWebCopyJob&) {
    return ProtocolNotAvailable(wpSftpDelete);
}
bool TWebCopy::SftpList(TWebCopyJob&) {
    return ProtocolNotAvailable(wpSftpList);
}

} // namespace kivo::webcopy
