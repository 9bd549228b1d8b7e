// A minimal dialog class library: only the members the system's windows use.
// Two implementations: real Win32 windows (platform/win32) and in-memory
// controls (platform/model) that the tests read and the terminal front end
// renders. Which one a program gets is decided when it is linked.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

using ColorRef = uint32_t; // 0x00BBGGRR

inline constexpr unsigned WM_CTLCOLORSTATIC_ = 0x0138;
inline constexpr unsigned WM_ICONERASEBKGND_ = 0x0027;
inline constexpr unsigned CBN_SELCHANGE_ = 1;
inline constexpr unsigned BN_CLICKED_ = 0;
inline constexpr int SM_CXICON_ = 11;
inline constexpr int SM_CYICON_ = 12;
inline constexpr int ICON_SMALL_ = 0;
inline constexpr int ICON_BIG_ = 1;
inline constexpr uint8_t DEFAULT_CHARSET_ = 1;

struct WindowState; // defined by each implementation

class CFont {
public:
    CFont() = default;
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    ~CFont();
    // A logical font of `tenthsOfPoint` converted for the screen, default
    // character set, every other attribute zero; the face is cut to 31 chars.
    bool createPointFont(int tenthsOfPoint, const std::string& face);
    void deleteObject();
    bool exists() const { return handle != nullptr; }

    Handle handle = nullptr;
    int tenthsOfPoint = 0; // as asked, for the model and the tests
    std::string face;
};

class CBrush {
public:
    CBrush() = default;
    CBrush(const CBrush&) = delete;
    CBrush& operator=(const CBrush&) = delete;
    ~CBrush();
    bool createSolidBrush(ColorRef color);
    void deleteObject();
    bool exists() const { return handle != nullptr; }

    Handle handle = nullptr;
    ColorRef color = 0;
};

// A device context handed to the colour request and to painting.
class CDC {
public:
    virtual ~CDC() = default;
    virtual void setTextColor(ColorRef color) = 0;
    virtual void setBkColor(ColorRef color) = 0;
    virtual void selectFont(CFont& font) = 0;
    virtual void drawIcon(int x, int y, Handle icon) = 0;
    virtual Handle nativeHandle() = 0;
};

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    void setWindowText(const std::string& text);
    std::string getWindowText() const;
    void enableWindow(bool enable);
    bool isWindowEnabled() const;
    void showWindow(bool show);
    bool isWindowVisible() const;
    void setFocus();
    void updateWindow();
    bool isIconic() const;
    void getClientSize(int& width, int& height) const;
    intptr_t sendMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
    void setIcon(Handle icon, int which);
    Handle nativeHandle() const;

    // The reflected colour request of a child control. Answer a brush, or
    // null for "not handled" (the parent's default colouring then runs).
    virtual Handle reflectCtlColor(CDC& dc, unsigned ctlType);

    WindowState* state = nullptr;
};

class CStatic : public CWnd {};
class CButton : public CWnd {};

class CComboBox : public CWnd {
public:
    int addString(const std::string& text);
    int setCurSel(int index);
    int getCurSel() const;
    int getCount() const;
    std::string getLBText(int index) const;
};

class CProgressCtrl : public CWnd {
public:
    void setRange(int lower, int upper); // PBM_SETRANGE, 16-bit limits
    int setStep(int step);               // PBM_SETSTEP
    int setPos(int position);            // PBM_SETPOS
    int stepIt();                        // PBM_STEPIT
};

class CDialog : public CWnd {
public:
    explicit CDialog(unsigned templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally; answers the value given to endDialog, or -1
    // when the dialog cannot be created.
    virtual intptr_t doModal();
    void endDialog(int result);

    unsigned templateId() const { return templateId_; }

    // WM_INITDIALOG. The base binds the controls registered with bindControl
    // and answers true (the dialog manager places the focus).
    virtual bool onInitDialog();
    virtual void onOK();
    virtual void onCancel();
    // WM_COMMAND. The base sends IDOK to onOK and IDCANCEL to onCancel.
    virtual bool onCommand(unsigned id, unsigned notifyCode);
    // WM_PAINT. Answer false to let the dialog paint itself.
    virtual bool onPaint();
    // WM_QUERYDRAGICON.
    virtual Handle onQueryDragIcon();

    // Icon resource of the program, or null.
    static Handle loadIcon(unsigned resourceId);
    static int getSystemMetrics(int index);

protected:
    // Binds `control` to the child control `id` when the dialog initialises.
    void bindControl(unsigned id, CWnd& control);

private:
    unsigned templateId_;
    CWnd* parent_;
    struct Binding {
        unsigned id;
        CWnd* control;
    };
    Binding bindings_[16] = {};
    int bindingCount_ = 0;
    friend struct DialogAccess;
};

// Paint device context of a window (BeginPaint / EndPaint).
class CPaintDC {
public:
    explicit CPaintDC(CWnd& window);
    ~CPaintDC();
    CDC& dc();

private:
    struct Impl;
    Impl* impl_;
};

class CWinThread {
public:
    virtual ~CWinThread() = default;
};

// Starts `entry` on a new thread at normal priority with the default stack.
// Answers null when the thread cannot be started.
CWinThread* beginThread(unsigned (*entry)(void*), void* parameter);

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    // Called once after the library's own initialisation. Answer false to end
    // the program without a message loop.
    virtual bool startUp() = 0;
    void enableControlContainer();
    void enable3dControls();

    CWnd* mainWindow = nullptr;

private:
    void* previousApp_ = nullptr;  // the application object constructed before this one
};

CWinApp* currentApp();
