#include "app/TarnwickApp.h"

#include "ui/TarnwickDlg.h"

BOOL TarnwickApp::InitInstance() {
    TarnwickDlg dialog;
    m_nExitCode = static_cast<int32_t>(dialog.DoModal());
    return FALSE; // no message loop of its own: straight on to ExitInstance
}
