// The application object: one per process, made during static initialisation; its start-up is
// called once on the main thread by our entry point. There is no application message loop: the
// modal loop of the dialog that start-up runs is the only one.
#pragma once

#include <windows.h>

#include <string>

namespace velk::ui {

class CModalDialog;

class CApplication {
public:
    // Registers the object as the process's one application object.
    CApplication();
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    static CApplication* Current();

    // Start-up. False: no application loop runs and the process ends.
    virtual bool InitInstance() = 0;

    // The window start-up runs, if any; cleared when that window is destroyed. A dialog run without
    // an owner of its own is owned by it.
    CModalDialog* m_mainWindow = nullptr;

protected:
    // Base start-up: acts on m_restartFlags.
    bool InitApplicationBase();
    // Where the application would keep its settings; we only remember the key (we write no settings).
    void SetSettingsKey(const wchar_t* key) { m_settingsKey = key; }
    // Our dialogs host only the system's own controls, so there is no container to prepare.
    void EnableControlHosting() {}
    // Our dialogs draw with the system's own look; there is no other visual style to choose.
    void UseNativeVisualStyle() {}

    // Restart registration: 0 none, kRestartOnly to be restarted after an unexpected end.
    static constexpr unsigned kRestartOnly = 1;
    unsigned m_restartFlags = 0;
    std::wstring m_settingsKey;
};

// What dialogs with shell tree or list controls would need prepared. Ours have none, so there is
// nothing in it; start-up still owns one for the run and frees it, in case a dialog grows such a control.
class CShellServices {
public:
    CShellServices() = default;
    CShellServices(const CShellServices&) = delete;
    CShellServices& operator=(const CShellServices&) = delete;
};

// The process's whole life after static initialisation: start-up, then the exit code.
int RunApplication();

}  // namespace velk::ui
