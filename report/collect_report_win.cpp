// The one collection sequence of a run, which the dialog's initialisation calls: the executable's
// directory, then the steps in their order.
#include "report/report_data.h"

#include <windows.h>

#include "report/report_rules.h"
#include "support/module_path.h"
#include "support/scope_exit.h"
#include "support/unique_any.h"

namespace velk {

void CReportData::FillExeDir() {
    // Read once for the process and never cut: a long install path keeps every file beside the
    // executable, where the other lookups expect it.
    m_exeDir = ModuleDirectory();
}

namespace {

// Long enough for a collection that waits out a held dump, short enough that a reporter that
// hangs cannot keep another from its report for ever.
constexpr DWORD kCollectionWaitMs = 30000;

}  // namespace

void CReportData::CollectReport() {
    // INFOLOG.TXT has one name in the folder: two reporters started together (two crashes in
    // quick succession) take turns, so each packs the log it wrote. An abandoned lock is ours too.
    unique_handle lock(CreateMutexW(nullptr, FALSE, InstanceLockName(L"collect", m_exeDir).c_str()));
    const bool locked = lock && WaitForSingleObject(lock.get(), kCollectionWaitMs) != WAIT_TIMEOUT;
    scope_exit unlock([&] {
        if (locked) ReleaseMutex(lock.get());
    });

    ReadUploadUrl();
    WriteInfoLog();
    m_dumpPath = MakeDumpPath(m_exeDir);
    CollectTempFiles();
    BuildReportArchive();
}

}  // namespace velk
