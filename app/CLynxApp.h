// The application object: runs the main window modally and ends the process
// when it ends.
#pragma once

class QWidget;

class CLynxApp {
public:
    // Returns false always: the process ends when the main window has ended
    // (or when sockets cannot be initialised).
    bool InitInstance();

    QWidget* m_pMainWnd = nullptr;
};

extern CLynxApp theApp;
