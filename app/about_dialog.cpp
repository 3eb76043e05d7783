// The About box has no handlers of its own: OK and the close box end it through the defaults.
#include "app/about_dialog.h"

#include "app/resource.h"

namespace velk {

CAboutDlg::CAboutDlg() : CModalDialog(IDD_ABOUTBOX) {}

}  // namespace velk
