// The share tests under Wine: its network provider connects no SMB shares
// (WNetAddConnection2W gives ERROR_NO_NETWORK for every remote name), so no
// server is started and the share rows are skipped with that reason.
#include "support/SambaServer.h"

namespace kivo::test {

TSambaServer::TSambaServer() {
    FWhy = "Wine connects no SMB shares (WNetAddConnection2W has no network provider)";
}

TSambaServer::~TSambaServer() = default;

bool TSambaServer::Start() {
    return false;
}

TSambaServer& Samba() {
    static TSambaServer Instance;
    return Instance;
}

} // namespace kivo::test
