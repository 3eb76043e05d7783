// The executable's directory and the collection steps of the dialog's initialisation in their order.
#include "report/report_data.h"

#include "support/module_path.h"

namespace velk {

void CReportData::FillExeDir() {
    // Read once for the process and never cut: a long install path keeps every file beside the
    // executable, where the other lookups expect it.
    m_exeDir = ModuleDirectory();
}

void CReportData::CollectReport() {
    ReadUploadUrl();
    WriteInfoLog();
    m_dumpPath = MakeDumpPath(m_exeDir);
    CollectTempFiles();
    BuildReportArchive();
}

}  // namespace velk
