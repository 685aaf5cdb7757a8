// The protocol routines this build does not carry yet: FTP. Each ends its
// job with a report that the protocol is not available.
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

bool TWebCopy::FtpDownload(TWebCopyJob&, bool) {
    return ProtocolNotAvailable(wpFtp);
}
bool TWebCopy::FtpUpload(TWebCopyJob&) {
    return ProtocolNotAvailable(wpFtpUpload);
}
bool TWebCopy::FtpMultiDownload(TWebCopyJob&) {
    return ProtocolNotAvailable(wpMultiFtp);
}
bool TWebCopy::FtpMultiUpload(TWebCopyJob&) {
    return ProtocolNotAvailable(wpMultiFtpUpload);
}
bool TWebCopy::FtpDelete(TWebCopyJob&) {
    return ProtocolNotAvailable(wpFtpDelete);
}
bool TWebCopy::FtpList(TWebCopyJob&) {
    return ProtocolNotAvailable(wpFtpList);
}
bool TWebCopy::FtpTest(TWebCopyJob&) {
    return ProtocolNotAvailable(wpFtpTest);
}

} // namespace kivo::webcopy
