// The protocol routines this build does not carry yet: file copies, FTP and
// SFTP. Each ends its job with a report that the protocol is not available.
#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

namespace {
const char* ProtocolName(TWebCopyProtocol Protocol) {
    static const char* const Names[] = {"wpHttp", "wpFtp", "wpFile", "wpFtpUpload", "wpHttpUpload",
                                        "wpMultiFtp", "wpMultiFtpUpload", "wpFtpDelete", "wpFtpList",
                                        "wpFtpTest", "wpSftp", "wpSftpUpload", "wpSftpDelete", "wpSftpList"};
    return Protocol <= wpSftpList ? Names[Protocol] : "?";
}
}  // namespace

bool TWebCopy::ProtocolNotAvailable(TWebCopyProtocol Protocol) {
    ReportError(wceProtocolNotAvailable, SProtocolNotAvailable + std::string(ProtocolName(Protocol)));
    return false;
}

bool TWebCopy::FileCopy(const std::string&, const std::string&, const std::string&, int32_t, const std::string&,
                        const std::string&, const std::string&, bool, int32_t, TDateTime&, bool& NoNewVersion) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpFile);
}

bool TWebCopy::FtpDownload(const std::string&, const std::string&, const std::string&, int32_t, const std::string&,
                           const std::string&, const std::string&, bool, int32_t, TDateTime&, bool& NoNewVersion,
                           bool, bool) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpFtp);
}

bool TWebCopy::FtpUpload(const std::string&, const std::string&, const std::string&, int32_t, const std::string&,
                         const std::string&, const std::string&, bool, int32_t, TDateTime&, bool& NoNewVersion, bool) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpFtpUpload);
}

bool TWebCopy::FtpMultiDownload(const std::string&, const std::string&, const std::string&, int32_t,
                                const std::string&, const std::string&, const std::string&, bool, int32_t,
                                TDateTime&, bool& NoNewVersion, bool) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpMultiFtp);
}

bool TWebCopy::FtpMultiUpload(const std::string&, const std::string&, const std::string&, int32_t,
                              const std::string&, const std::string&, const std::string&, bool, int32_t, TDateTime&,
                              bool& NoNewVersion, bool) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpMultiFtpUpload);
}

bool TWebCopy::FtpDelete(const std::string&, const std::string&, const std::string&, int32_t, const std::string&,
                         const std::string&, const std::string&, int32_t, bool) {
    return ProtocolNotAvailable(wpFtpDelete);
}

bool TWebCopy::FtpList(const std::string&, const std::string&, const std::string&, int32_t, const std::string&,
                       const std::string&, const std::string&, bool, int32_t, TDateTime&, bool& NoNewVersion, bool) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpFtpList);
}

bool TWebCopy::FtpTest(const std::string&, const std::string&, const std::string&, int32_t, int32_t) {
    return ProtocolNotAvailable(wpFtpTest);
}

bool TWebCopy::SftpDownload(const std::string&, const std::string&, const std::string&, int32_t,
                            const std::string&, const std::string&, const std::string&, bool, int32_t, TDateTime&,
                            bool& NoNewVersion, bool, bool) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpSftp);
}

bool TWebCopy::SftpUpload(const std::string&, const std::string&, const std::string&, int32_t, const std::string&,
                          const std::string&, const std::string&, bool, int32_t, TDateTime&, bool& NoNewVersion,
                          bool) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpSftpUpload);
}

bool TWebCopy::SftpDelete(const std::string&, const std::string&, const std::string&, int32_t, const std::string&,
                          const std::string&, const std::string&, int32_t, bool) {
    return ProtocolNotAvailable(wpSftpDelete);
}

bool TWebCopy::SftpList(const std::string&, const std::string&, const std::string&, int32_t, const std::string&,
                        const std::string&, const std::string&, bool, int32_t, TDateTime&, bool& NoNewVersion, bool) {
    NoNewVersion = false;
    return ProtocolNotAvailable(wpSftpList);
}

}  // namespace kivo::webcopy
