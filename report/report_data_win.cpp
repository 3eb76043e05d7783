// The executable's directory and the collection steps of the dialog's initialisation in their order.
#include <windows.h>
#include <shlwapi.h>

#include "report/report_data.h"

namespace velk {

void CReportData::FillExeDir() {
    // 520 characters with room for the terminator; the module path is taken at most 518 long,
    // and a longer one comes back cut, which we cannot do anything useful about.
    wchar_t path[520] = {};
    GetModuleFileNameW(nullptr, path, 519);
    path[518] = L'\0';
    // Leaves a drive root with its backslash ("C:\"), every other directory without one.
    PathRemoveFileSpecW(path);
    m_exeDir = path;
}

void CReportData::CollectReport() {
    ReadUploadUrl();
    WriteInfoLog();
    m_dumpPath = MakeDumpPath(m_exeDir);
    CollectTempFiles();
    BuildReportArchive();
}

}  // namespace velk
