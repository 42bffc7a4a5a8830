#pragma once
// A small dialog framework on Qt Widgets: windows built from template tables, controls reached by id,
// data exchange with validation, message maps, window timers, message boxes, the save-style file
// dialog, resources (images, icons, strings), cursors and the application object.
// Qt stays inside the .cpp files; callers see only these classes and the QWidget pointers that tests
// use for real clicks.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/cstring.h"
#include "platform/win_types.h"

class QWidget;
class QMenu;
class QTimer;

typedef intptr_t LRESULT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;

// Images, icons and cursors loaded from the program's resources.
struct FrameworkImage;
typedef FrameworkImage* HBITMAP;
typedef FrameworkImage* HICON;
typedef FrameworkImage* HCURSOR;

struct RECT {
    long left;
    long top;
    long right;
    long bottom;
};

// ---- Window messages, commands and notifications ----
enum : UINT {
    WM_DESTROY = 0x0002,
    WM_SETCURSOR = 0x0020,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUERYDRAGICON = 0x0037,
    WM_ICONERASEBKGND = 0x0027,
    WM_COMMAND = 0x0111,
    WM_SYSCOMMAND = 0x0112,
    WM_TIMER = 0x0113,
    WM_MOUSEMOVE = 0x0200,
};
enum : UINT { BN_CLICKED = 0, STN_CLICKED = 0 };
enum : UINT { SC_CLOSE = 0xF060 };
enum : UINT { HTCLIENT = 1 };
enum : UINT { ID_HELP = 57670 };

inline WPARAM MAKEWPARAM(unsigned low, unsigned high)
{
    return static_cast<WPARAM>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
inline LPARAM MAKELPARAM(unsigned low, unsigned high)
{
    return static_cast<LPARAM>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
inline unsigned LOWORD(uintptr_t v) { return static_cast<unsigned>(v & 0xFFFFu); }
inline unsigned HIWORD(uintptr_t v) { return static_cast<unsigned>((v >> 16) & 0xFFFFu); }

// ShowWindow commands.
enum : int { SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOW = 5 };

// Menu item flags.
enum : UINT { MF_STRING = 0x0000, MF_SEPARATOR = 0x0800 };

// Radio and check states.
enum : int { BST_UNCHECKED = 0, BST_CHECKED = 1 };

// System metrics that the windows ask for.
enum : int { SM_CXICON = 11, SM_CYICON = 12 };
int GetSystemMetrics(int index);

// ---- Templates ----
enum class ControlKind { PushButton, AutoRadioButton, StaticText, GroupBox, Edit, ComboBox, ProgressBar, Picture };

// Window and control styles (meaning depends on the control kind, as in a dialog template).
enum : unsigned {
    WS_TABSTOP = 0x00010000,
    WS_GROUP = 0x00020000,
    WS_VSCROLL = 0x00200000,
    WS_DISABLED = 0x08000000,
    WS_CAPTION = 0x00C00000,
    WS_SYSMENU = 0x00080000,
    WS_MINIMIZEBOX = 0x00020000,
    WS_MAXIMIZEBOX = 0x00010000,
    DS_MODALFRAME = 0x80,
    WS_EX_APPWINDOW = 0x40000,
    BS_DEFPUSHBUTTON = 0x1,
    ES_MULTILINE = 0x4,
    ES_AUTOHSCROLL = 0x80,
    ES_READONLY = 0x800,
    ES_WANTRETURN = 0x1000,
    CBS_DROPDOWN = 0x2,
    CBS_SORT = 0x100,
    PBS_SMOOTH = 0x1,
    SS_NOTIFY = 0x100,
    SS_CENTERIMAGE = 0x200,
    SS_SUNKEN = 0x1000,
};

struct DialogControlTemplate {
    int id;                      // -1 for controls that are never reached by id
    ControlKind kind;
    const char* text;            // caption; "" for none
    int x, y, cx, cy;            // dialog units
    unsigned style = 0;
    UINT imageId = 0;            // picture controls: the image resource shown
    std::vector<const char*> initialData = {};  // combo boxes: list entries in this order
};

struct DialogTemplate {
    UINT id;
    const char* caption;
    int cx, cy;                  // dialog units
    const char* fontName;
    int pointSize;
    unsigned style;              // DS_MODALFRAME | WS_CAPTION | WS_SYSMENU ...
    unsigned exStyle;            // WS_EX_APPWINDOW
    std::vector<DialogControlTemplate> controls;
};

// ---- Resources ----
// Images (bitmaps and icons) are Qt resource paths registered under their numeric ids.
void RegisterImageResource(UINT id, const char* qtResourcePath);
void RegisterStringResource(UINT id, const char* text);
// The string resource into out; FALSE (and out unchanged) when there is none.
BOOL AfxLoadString(UINT id, CString& out);

// ---- Message maps ----
class CWnd;
struct MessageMapEntry {
    UINT message;  // WM_COMMAND for control notifications
    UINT code;     // notification code for WM_COMMAND
    int id;        // control id for WM_COMMAND, else 0
    std::function<LRESULT(CWnd& self, WPARAM wParam, LPARAM lParam)> handler;
};
using MessageMap = std::vector<MessageMapEntry>;

template <class T>
MessageMapEntry ON_BN_CLICKED(int id, void (T::*fn)())
{
    return {WM_COMMAND, BN_CLICKED, id, [fn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
                (static_cast<T&>(w).*fn)();
                return 0;
            }};
}
template <class T>
MessageMapEntry ON_STN_CLICKED(int id, void (T::*fn)())
{
    return {WM_COMMAND, STN_CLICKED, id, [fn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
                (static_cast<T&>(w).*fn)();
                return 0;
            }};
}
template <class T>
MessageMapEntry ON_COMMAND(int id, void (T::*fn)())
{
    return ON_BN_CLICKED<T>(id, fn);
}
template <class T>
MessageMapEntry ON_WM_SYSCOMMAND(void (T::*fn)(UINT, LPARAM))
{
    return {WM_SYSCOMMAND, 0, 0, [fn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
                (static_cast<T&>(w).*fn)(static_cast<UINT>(wp), lp);
                return 0;
            }};
}
template <class T>
MessageMapEntry ON_WM_PAINT(void (T::*fn)())
{
    return {WM_PAINT, 0, 0, [fn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
                (static_cast<T&>(w).*fn)();
                return 0;
            }};
}
template <class T>
MessageMapEntry ON_WM_QUERYDRAGICON(HCURSOR (T::*fn)())
{
    return {WM_QUERYDRAGICON, 0, 0, [fn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
                return reinterpret_cast<LRESULT>((static_cast<T&>(w).*fn)());
            }};
}
// Sent while the window is being destroyed, its controls still in place.
template <class T>
MessageMapEntry ON_WM_DESTROY(void (T::*fn)())
{
    return {WM_DESTROY, 0, 0, [fn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
                (static_cast<T&>(w).*fn)();
                return 0;
            }};
}
template <class T>
MessageMapEntry ON_WM_TIMER(void (T::*fn)(UINT_PTR))
{
    return {WM_TIMER, 0, 0, [fn](CWnd& w, WPARAM wp, LPARAM) -> LRESULT {
                (static_cast<T&>(w).*fn)(static_cast<UINT_PTR>(wp));
                return 0;
            }};
}
// wParam: the CWnd* under the pointer; lParam: hit-test code (low word) and mouse message (high word).
template <class T>
MessageMapEntry ON_WM_SETCURSOR(BOOL (T::*fn)(CWnd*, UINT, UINT))
{
    return {WM_SETCURSOR, 0, 0, [fn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
                return (static_cast<T&>(w).*fn)(reinterpret_cast<CWnd*>(wp), LOWORD(static_cast<uintptr_t>(lp)),
                                                HIWORD(static_cast<uintptr_t>(lp)));
            }};
}

// ---- Menus: the stand-in for the window's system menu is its context menu ----
class CMenu {
public:
    CMenu();
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;
    // MF_SEPARATOR, or MF_STRING with the command id sent as WM_SYSCOMMAND and the item's text.
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr);
    int GetMenuItemCount() const;
    QMenu* GetQMenu() const;
    // Items: (id, text); separators have id 0 and empty text.
    struct Item {
        UINT_PTR id;
        std::string text;
        bool separator;
    };
    const std::vector<Item>& Items() const { return m_items; }

private:
    friend class CWnd;
    void Bind(CWnd* owner);
    std::vector<Item> m_items;
    CWnd* m_pOwner = nullptr;
    std::unique_ptr<QMenu> m_menu;
};

// ---- Windows ----
class CDialog;

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    QWidget* GetQWidget() const { return m_pWidget; }
    BOOL IsWindow() const { return m_pWidget != nullptr; }
    int GetDlgCtrlID() const { return m_nID; }
    CWnd* GetParent() const { return m_pParent; }
    // The control of this window with that id (a window of the control's own class), or nullptr.
    CWnd* GetDlgItem(int id) const;

    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const;
    void SetWindowText(const char* text);
    void GetWindowText(CString& text) const;
    CString GetWindowTextString() const;
    CWnd* SetFocus();
    BOOL IsIconic() const;
    void GetClientRect(RECT* rect) const;
    void Invalidate();

    void CheckRadioButton(int firstId, int lastId, int checkId);
    UINT IsDlgButtonChecked(int id) const;

    HICON SetIcon(HICON icon, BOOL big);
    HICON GetIcon(BOOL big) const;

    // The window's system menu (its context menu); created on first use.
    CMenu* GetSystemMenu(BOOL revert);

    // Window timers by id: every expiry sends WM_TIMER with the id. Setting a running timer restarts it.
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, void* callback);
    BOOL KillTimer(UINT_PTR id);
    bool HasTimer(UINT_PTR id) const;
    UINT GetTimerElapse(UINT_PTR id) const;  // 0 when not running

    // A box owned by this window; a null caption gives the application's name.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

    // Routes a message through the message map, then to the default handling.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    virtual const MessageMap& GetMessageMap() const;

protected:
    // The framework's default handling of each message.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnTimer(UINT_PTR id);
    void OnDestroy();
    BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT Default();

private:
    friend class CDialog;
    friend class CMenu;
    friend struct FrameworkAccess;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    QWidget* m_pWidget = nullptr;
    int m_nID = 0;
    CWnd* m_pParent = nullptr;
    std::map<int, std::unique_ptr<CWnd>> m_controls;          // a dialog's controls by id
    std::vector<std::unique_ptr<CWnd>> m_unnamedControls;     // labels and frames without an id
    std::map<UINT_PTR, std::unique_ptr<QTimer>> m_timers;
    std::unique_ptr<CMenu> m_pSystemMenu;
    HICON m_hBigIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    UINT m_currentMessage = 0;
    WPARAM m_currentWParam = 0;
    LPARAM m_currentLParam = 0;
    int m_nDispatchDepth = 0;  // messages of this window being handled, nested ones included
};

class CButton : public CWnd {
public:
    void SetCheck(int check);
    int GetCheck() const;
};

class CStatic : public CWnd {
public:
    // Shows the bitmap; returns the one shown before.
    HBITMAP SetBitmap(HBITMAP bitmap);
    HBITMAP GetBitmap() const;

private:
    HBITMAP m_hBitmap = nullptr;
};

class CEdit : public CWnd {};

class CComboBox : public CWnd {
public:
    // Adds to the list (at its sorted place for a sorted combo); returns the index.
    int AddString(const char* text);
    int GetCount() const;
    void GetLBText(int index, CString& text) const;
    int GetCurSel() const;
    int SetCurSel(int index);
    // The first entry from start on that begins with text, letter case ignored; -1 when none.
    int FindString(int startAfter, const char* text) const;
    int SelectString(int startAfter, const char* text);
    void ResetContent();
};

class CProgressCtrl : public CWnd {
public:
    void SetRange(short lower, short upper);
    // A value outside the range shows as the nearer end.
    int SetPos(int position);
    int GetPos() const;
};

// A bitmap loaded from the resources.
class CBitmap {
public:
    CBitmap() = default;
    ~CBitmap();
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;
    BOOL LoadBitmap(UINT resourceId);
    HBITMAP GetSafeHandle() const { return m_hBitmap; }
    operator HBITMAP() const { return m_hBitmap; }

private:
    HBITMAP m_hBitmap = nullptr;
};

// ---- Painting ----
class CPaintDC {
public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    uintptr_t GetSafeHdc() const { return reinterpret_cast<uintptr_t>(this); }
    BOOL DrawIcon(int x, int y, HICON icon);

private:
    CWnd* m_pWindow;
    void* m_pPainter = nullptr;
};

// ---- Data exchange ----
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    int m_idLastControl = 0;
    bool m_bFailed = false;  // a refusal stops the exchange: later fields are left alone
    CWnd* PrepareCtrl(int id);
    // Puts the focus on the field last prepared and marks the exchange as refused.
    void Fail();
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, CString& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Text(CDataExchange* pDX, int id, long& value);
void DDX_CBString(CDataExchange* pDX, int id, CString& value);
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minimum, int maximum);

// ---- Dialogs ----
class CDialog : public CWnd {
public:
    explicit CDialog(const DialogTemplate& dialogTemplate, CWnd* parent = nullptr);
    ~CDialog() override;

    // Builds the window, initialises it and runs it modally; the result given to EndDialog.
    virtual INT_PTR DoModal();
    // Builds the window, initialises it and shows it without a modal loop (drivers and tests).
    BOOL Create();
    // Ends the dialog with the result. Called while one of its messages is being handled, it only
    // marks the dialog: the window stays shown until that handler, and any messages it pumps, have
    // returned; then the window is hidden and the modal loop ends.
    void EndDialog(int result);
    void DestroyWindow();
    bool IsEnded() const { return m_bEnded; }
    int GetResult() const { return m_nResult; }

    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);

    const DialogTemplate& GetTemplate() const { return m_template; }
    // Pixels of a rectangle in dialog units, by the dialog font's metrics.
    void MapDialogRect(RECT* rect) const;

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    friend class CWnd;
    friend struct FrameworkAccess;
    void BuildWindow();
    BOOL CreateAndInitialise(bool modal);
    // Hides the window and ends the modal loop of an end that EndDialog marked.
    void FinishPendingEnd();
    const DialogTemplate& m_template;
    CWnd* m_pParentWnd;
    bool m_bEnded = false;
    int m_nResult = 0;
    int m_baseUnitX = 0;
    int m_baseUnitY = 0;
    bool m_bInModalLoop = false;
    bool m_bEndPending = false;  // ended, the window not yet hidden
    bool m_bDestroying = false;
    std::vector<CWnd*> m_boundControls;  // member controls bound by DDX_Control, released with the window
};

// ---- Message boxes ----
// A box with the application's name as caption, owned by the active window; MB_OK and MB_YESNO given
// without an icon get the exclamation icon.
int AfxMessageBox(const char* text, UINT type = MB_OK);
// The application's name: the executable's file name without its extension.
const char* AfxGetAppName();

// ---- The save/open file dialog ----
enum : DWORD { OFN_OVERWRITEPROMPT = 0x2, OFN_HIDEREADONLY = 0x4, OFN_EXPLORER = 0x80000 };

struct FileDialogRequest {
    bool openStyle;              // false: save style (a name that does not exist may be typed)
    std::string title;
    std::string defaultExtension;
    std::string initialFileName;
    DWORD flags;
    // (description, pattern) pairs from the "desc|pattern|...||" filter text, in order.
    std::vector<std::pair<std::string, std::string>> filters;
};
// Answers the dialog: the path chosen or typed (a relative name counts from the working directory),
// or no value when the dialog is cancelled.
using FileDialogHook = std::function<std::optional<std::string>(const FileDialogRequest&)>;
FileDialogHook SetFileDialogHook(FileDialogHook hook);

class CFileDialog {
public:
    CFileDialog(BOOL openStyle, const char* defaultExtension = nullptr, const char* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                CWnd* parent = nullptr);
    // IDOK with a path chosen, IDCANCEL otherwise.
    INT_PTR DoModal();
    // The full path chosen ("" after a cancel).
    CString GetPathName() const { return m_strPathName; }
    const FileDialogRequest& GetRequest() const { return m_request; }

private:
    FileDialogRequest m_request;
    CWnd* m_pParent;
    CString m_strPathName;
};

// ---- Cursors ----
enum : uintptr_t { IDC_ARROW = 32512, IDC_HAND = 32649 };
// The system cursor with that id (module must be null); nullptr when there is none.
HCURSOR LoadCursorA(void* module, uintptr_t cursorId);
// A private copy of an icon or cursor, kept until the process ends.
HICON CopyIcon(HICON icon);
// Sets the cursor of the window that the current WM_SETCURSOR is about; returns the previous one.
HCURSOR SetCursor(HCURSOR cursor);
// Which cursor shape an icon or cursor handle stands for (Qt::CursorShape value), -1 for none.
int GetCursorShape(HCURSOR cursor);

// ---- The shell's "open" ----
// Opens a URL or local page through the desktop hook (platform/shell_open.h); returns a value above 32
// when the opener could be started.
intptr_t ShellExecuteA(void* owner, const char* verb, const char* file, const char* parameters,
                       const char* directory, int showCommand);

// ---- The application ----
class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // Commands the application handles (the Help command), by id.
    struct CommandEntry {
        UINT id;
        void (CWinApp::*handler)();
    };
    using CommandMap = std::vector<CommandEntry>;
    virtual const CommandMap& GetMessageMap() const;
    // Runs the handler of the command; FALSE when the map has none.
    BOOL OnCmdMsg(UINT id);
    HICON LoadIcon(UINT resourceId) const;
    // The default help handler: opens "<executable>.HLP" beside the executable when it exists.
    void OnHelp();

    CWnd* m_pMainWnd = nullptr;
    const char* m_pszAppName;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();

// Registration of the common controls and the 3-D look: the toolkit needs neither.
void InitCommonControls();
BOOL Enable3dControlsStatic();

// Makes sure a Qt application object exists (creating one for the process if needed).
void AfxEnsureQtApplication();
// Installs the Qt implementations of the platform hooks: message boxes, the desktop opener and the
// message pump.
void InstallQtPlatformHooks();
// The program's entry: creates the Qt application, installs the hooks, runs the application object's
// InitInstance and returns the exit code.
int AfxWinMain(int argc, char** argv);
