// The application object's registration, base start-up and the run called by the entry point.
#include "app/framework/application.h"

#include "app/framework/dialog.h"

namespace velk::ui {

namespace {
CApplication* g_application = nullptr;
}

CApplication::CApplication() {
    g_application = this;
}

CApplication::~CApplication() {
    if (g_application == this) g_application = nullptr;
}

CApplication* CApplication::Current() {
    return g_application;
}

bool CApplication::InitApplicationBase() {
    if (m_restartFlags & kRestartOnly) {
        // Restart only: no recovery callback, no autosave, and no arguments (the program reads none).
        // The system restarts only a process that ran for a minute before it ended unexpectedly, so
        // a quick crash loop cannot form. A failure changes nothing for this run.
        ::RegisterApplicationRestart(nullptr, 0);
    }
    return true;
}

int RunApplication() {
    CApplication* app = CApplication::Current();
    if (!app) return 1;
    if (!app->InitInstance()) {
        // A start-up that returns false runs no loop; its window, if one is left, goes first.
        // The exit code of such a run is 0: the program sets none of its own.
        if (app->m_mainWindow && app->m_mainWindow->GetHwnd()) ::DestroyWindow(app->m_mainWindow->GetHwnd());
        return 0;
    }
    // We have no application loop: every start-up of ours does its work inside a modal dialog.
    return 0;
}

}  // namespace velk::ui
