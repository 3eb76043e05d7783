// Packs the listed report files into one archive beside the executable, named after the account or the date.
#include <windows.h>

#include <io.h>

#include <string>

#include "report/report_data.h"
#include "report/report_rules.h"
#include "support/logger.h"
#include "support/path_join.h"
#include "zip/zip_writer.h"

namespace velk {

std::wstring MakeDateString() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t text[260] = {};
    swprintf(text, 260, L"%04d%02d%02d", static_cast<int>(now.wYear), static_cast<int>(now.wMonth),
             static_cast<int>(now.wDay));
    return text;
}

void CReportData::BuildReportArchive() {
    // From m_exeDir rather than the module path again: the same directory in the program, and
    // tests can point it at an install directory of their own.
    const std::wstring account = ReadAccountName();
    m_archivePath = JoinPath(m_exeDir, SafeArchiveBaseName(account.empty() ? MakeDateString() : account) + L".zip");
    if (m_reportFiles.empty()) return;

    ZipHandle* zip = nullptr;
    for (const std::wstring& path : m_reportFiles) {
        if (_waccess(path.c_str(), 0) != 0) continue;
        // Created only when the first existing file is met, so a run with nothing to send leaves no archive.
        if (zip == nullptr) {
            zip = ZipCreate(m_archivePath.c_str());
            if (zip == nullptr) {
                LogError(L"ERROR - failed to create " + m_archivePath);
                return;
            }
        }
        if (ZipAddFile(zip, EntryNameOf(path).c_str(), path.c_str()) != ZipResult::Ok)
            LogError(L"ERROR - failed to add '" + path + L"' to zip");
    }
    if (zip != nullptr) ZipClose(zip);
}

}  // namespace velk
