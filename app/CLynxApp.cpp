#include "app/CLynxApp.h"

#include "app/CLynxDlg.h"
#include "app/shell/MessageBox.h"
#include "platform/Sockets.h"

#include <QCoreApplication>

CLynxApp theApp;

bool CLynxApp::InitInstance()
{
    if (!lynx::platform::InitSockets()) {
        lynx::platform::MessageBoxRequest request;
        request.text = QStringLiteral("Socket Init Error.");
        // The application's name (lynx), whatever the program file is called.
        request.caption = QCoreApplication::applicationName();
        lynx::platform::ShowMessageBox(request);
        return false;
    }
    {
        CLynxDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    return false;
}
