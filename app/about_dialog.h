// The About box, dialog resource 100: opened from the error report dialog's system menu.
#pragma once

#include "app/framework/dialog.h"

namespace velk {

class CAboutDlg : public ui::CModalDialog {
public:
    CAboutDlg();
};

}  // namespace velk
