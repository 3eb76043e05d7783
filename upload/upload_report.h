// The crash report upload: one multipart POST of the archive, the account and the description to
// the collecting server over WinInet, with failures logged and WM_UPLOAD_FINISHED posted on every path.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace velk {

// Posted (wParam 0, lParam 0) to the window that asked for the upload, exactly once per upload.
// From the WM_APP range: the WM_USER numbers of a dialog are its stock DM_GETDEFID, DM_SETDEFID
// and DM_REPOSITION, and WM_USER + 1 would make a DM_SETDEFID end the report.
constexpr UINT WM_UPLOAD_FINISHED = WM_APP + 1;

struct UploadRequest {
    std::wstring url;          // the upload address; empty or unusable ends the upload quietly
    std::wstring archivePath;  // the report archive, read whole and closed before sending
    std::wstring description;  // the user's text, sent as UTF-8
    bool secure = false;       // TLS for the connection, whatever the address's scheme says
    // Looked up twice, afresh each time: once for the Account field, once for the file name.
    std::function<std::wstring()> readAccountName;
    HWND notifyWindow = nullptr;  // receives WM_UPLOAD_FINISHED; null posts to the calling thread
};

// Runs synchronously on the calling thread, makes one attempt and never retries. Every handle it
// opens, the archive included, is closed before WM_UPLOAD_FINISHED is posted.
void UploadReport(const UploadRequest& request);

}  // namespace velk
