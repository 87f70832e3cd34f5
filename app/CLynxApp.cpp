#include "app/CLynxApp.h"

#include "app/CLynxDlg.h"
#include "platform/MessageBox.h"
#include "platform/Sockets.h"

#include <QCoreApplication>
#include <QFileInfo>

CLynxApp theApp;

bool CLynxApp::InitInstance()
{
    if (!lynx::platform::InitSockets()) {
        lynx::platform::MessageBoxRequest request;
        request.text = QStringLiteral("Socket Init Error.");
        request.caption = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
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
