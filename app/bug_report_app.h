// The reporter's application object: its start-up prepares the process and runs the error report
// dialog; the process ends when the dialog has closed.
#pragma once

#include "app/framework/application.h"

namespace velk {

class CVELKBugReportApp : public ui::CApplication {
public:
    CVELKBugReportApp();
    // Runs the whole report and returns false, so that no application loop runs afterwards.
    bool InitInstance() override;
};

extern CVELKBugReportApp theApp;

}  // namespace velk
