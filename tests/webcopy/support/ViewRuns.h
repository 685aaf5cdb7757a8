// The runs the tests of the dialog views (Qt and Windows) watch, against the
// HTTP test server: the same engine state for both views.
#pragma once

#include <string>

#include "support/TestSupport.h"
#include "webcopy/Webcopy.h"

namespace kivo::test {

// A slow 200,000-byte download that shows every part of the progress
// dialog: both time lines, the completion in the caption, the Open
// buttons, and a file line too long for its label.
inline webcopy::TWebCopyItem* AddFullDialogDownload(webcopy::TWebCopy& W, const TTempDir& Dir) {
    W.SetShowTime(true);
    W.SetShowElapsedTime(true);
    W.SetShowCompletion(true);
    W.SetShowOpenFile(true);
    W.SetShowOpenFolder(true);
    webcopy::TWebCopyItem* It = W.Items()->Add();
    It->SetURL(Server().Url("/slow/200000/4/a-rather-long-file-name-for-the-path-ellipsis.bin"));
    It->SetTargetDir(Dir / "some/deeper/folder/for/the/file/line");
    return It;
}

// A slow download of c.bin, long enough to be cancelled.
inline webcopy::TWebCopyItem* AddSlowDownload(webcopy::TWebCopy& W, const TTempDir& Dir) {
    webcopy::TWebCopyItem* It = W.Items()->Add();
    It->SetURL(Server().Url("/slow/400000/10/c.bin"));
    It->SetTargetDir(Dir.Path());
    return It;
}

// A download of l.bin (100 bytes) behind the login user / secret.
inline webcopy::TWebCopyItem* AddLoginDownload(webcopy::TWebCopy& W, const TTempDir& Dir) {
    webcopy::TWebCopyItem* It = W.Items()->Add();
    It->SetURL(Server().Url("/auth/user/secret/100/l.bin"));
    It->SetTargetDir(Dir.Path());
    It->SetAuthenticate(webcopy::waAuto);
    return It;
}

} // namespace kivo::test
