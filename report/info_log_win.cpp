// INFOLOG.TXT beside the executable: account, main application version and the time of the report.
#include <windows.h>

#include <share.h>

#include <cstdio>
#include <memory>
#include <string>

#include "report/report_data.h"
#include "report/report_rules.h"
#include "support/path_join.h"
#include "support/text_convert.h"
#include "support/unique_any.h"

namespace velk {

std::wstring CReportData::GetMainAppVersion() const {
    const std::wstring file = JoinPath(m_exeDir, L"TovrekCRM.exe");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return std::wstring();
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.get())) return std::wstring();
    // The translation table is not used, but a resource without one is not taken as a version.
    void* translation = nullptr;
    UINT translationLength = 0;
    if (!VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", &translation, &translationLength))
        return std::wstring();
    void* root = nullptr;
    UINT rootLength = 0;
    if (!VerQueryValueW(block.get(), L"\\", &root, &rootLength) || root == nullptr ||
        rootLength < sizeof(VS_FIXEDFILEINFO))
        return std::wstring();
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(root);
    wchar_t text[64] = {};
    swprintf(text, 64, L"%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
             static_cast<int>(LOWORD(info->dwFileVersionMS)), static_cast<int>(HIWORD(info->dwFileVersionLS)),
             static_cast<int>(LOWORD(info->dwFileVersionLS)));
    return text;
}

void CReportData::WriteInfoLog() {
    const std::wstring path = JoinPath(m_exeDir, L"INFOLOG.TXT");
    // The time of the report is the moment we start, before any file is touched.
    const std::wstring timestamp = FormatInfoLogTime(CurrentLocalTime());
    const std::wstring account = ReadAccountName();

    // Opened by its wide path (an ANSI path fails for directories the code page cannot spell);
    // text mode turns each "\n" into CR LF; no sharing restriction.
    if (unique_file file{_wfsopen(path.c_str(), L"wt", _SH_DENYNO)}) {
        const std::string text = InfoLogText(WideToAnsi(account), WideToAnsi(GetMainAppVersion()), WideToAnsi(timestamp));
        std::fwrite(text.data(), 1, text.size(), file.get());
    }
    // Listed even when it could not be written: the archive step packs whatever file exists there.
    m_reportFiles.push_back(path);
}

}  // namespace velk
