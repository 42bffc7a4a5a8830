// The application object, message boxes, the file dialog and the Qt implementations of the hooks.
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/message_box.h"
#include "platform/message_pump.h"
#include "platform/qt/framework_p.h"
#include "platform/shell_open.h"

namespace {
CWinApp* g_pApp = nullptr;
std::mutex g_fileDialogMutex;
FileDialogHook g_fileDialogHook;
}  // namespace

// ---- The application ----

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName)
{
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

const CWinApp::CommandMap& CWinApp::GetMessageMap() const
{
    static const CommandMap empty;
    return empty;
}

BOOL CWinApp::OnCmdMsg(UINT id)
{
    for (const CommandEntry& entry : GetMessageMap()) {
        if (entry.id == id) {
            (this->*entry.handler)();
            return TRUE;
        }
    }
    return FALSE;
}

HICON CWinApp::LoadIcon(UINT resourceId) const
{
    return LoadImageResource(resourceId);
}

void CWinApp::OnHelp()
{
    QString helpFile = QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                       QString::fromUtf8(AfxGetAppName()) + QStringLiteral(".HLP");
    if (QFileInfo::exists(helpFile))
        ShellOpen(helpFile.toStdString());
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

CWnd* AfxGetMainWnd()
{
    return g_pApp ? g_pApp->m_pMainWnd : nullptr;
}

const char* AfxGetAppName()
{
    static const std::string name = [] {
        std::string base = program_invocation_short_name ? program_invocation_short_name : "";
        size_t dot = base.rfind('.');
        if (dot != std::string::npos && dot > 0)
            base.erase(dot);
        return base;
    }();
    return name.c_str();
}

void InitCommonControls()
{
}

BOOL Enable3dControlsStatic()
{
    return TRUE;
}

void AfxEnsureQtApplication()
{
    if (QApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "Quorix";
    static char* argv[] = {program_invocation_name ? program_invocation_name : name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
}

int AfxWinMain(int argc, char** argv)
{
    QApplication application(argc, argv);
    InstallQtPlatformHooks();
    CWinApp* app = AfxGetApp();
    if (app)
        app->InitInstance();
    // The application returns FALSE from its start-up call once the main window has closed.
    return 0;
}

// ---- Message boxes ----

int AfxMessageBox(const char* text, UINT type)
{
    UINT buttons = type & MB_TYPEMASK;
    if ((type & MB_ICONMASK) == 0 && (buttons == MB_OK || buttons == MB_YESNO))
        type |= MB_ICONEXCLAMATION;
    return MessageBoxA(ActiveOwnerWidget(), text, AfxGetAppName(), type);
}

namespace {

int ShowQtMessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    if (!QApplication::instance() || QThread::currentThread() != QApplication::instance()->thread()) {
        // Boxes belong to the UI thread; anywhere else the box is written out and answered at once.
        std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
        return DefaultMessageBoxAnswer(type);
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        icon = QMessageBox::Question;
        break;
    case MB_ICONEXCLAMATION:
        icon = QMessageBox::Warning;
        break;
    case MB_ICONASTERISK:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    QString body = QString::fromUtf8(text.c_str());
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon, QString::fromUtf8(caption.c_str()), body, QMessageBox::NoButton, ActiveOwnerWidget());
    box.setTextFormat(Qt::PlainText);
    struct ButtonCode {
        QMessageBox::StandardButton button;
        int code;
    };
    std::vector<ButtonCode> map;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        map = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_ABORTRETRYIGNORE:
        map = {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
        break;
    case MB_YESNOCANCEL:
        map = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_YESNO:
        map = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        break;
    case MB_RETRYCANCEL:
        map = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    default:
        map = {{QMessageBox::Ok, IDOK}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const ButtonCode& b : map)
        buttons |= b.button;
    box.setStandardButtons(buttons);
    box.setDefaultButton(map.front().button);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const ButtonCode& b : map)
        if (clicked == box.button(b.button))
            return b.code;
    // Closed without a button: the answer of the box's cancel or only button.
    for (const ButtonCode& b : map)
        if (b.code == IDCANCEL)
            return IDCANCEL;
    return map.size() == 1 ? map.front().code : DefaultMessageBoxAnswer(type);
}

bool OpenWithDesktop(const std::string& target)
{
    QString t = QString::fromUtf8(target.c_str());
    QUrl url = t.contains(QStringLiteral("://")) ? QUrl(t, QUrl::TolerantMode) : QUrl::fromLocalFile(t);
    return QDesktopServices::openUrl(url);
}

}  // namespace

void InstallQtPlatformHooks()
{
    SetMessageBoxHook(ShowQtMessageBox);
    SetShellOpenHook(OpenWithDesktop);
    SetMessagePumpHook([] {
        if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    });
}

// ---- The file dialog ----

FileDialogHook SetFileDialogHook(FileDialogHook hook)
{
    std::lock_guard<std::mutex> lock(g_fileDialogMutex);
    FileDialogHook previous = std::move(g_fileDialogHook);
    g_fileDialogHook = std::move(hook);
    return previous;
}

CFileDialog::CFileDialog(BOOL openStyle, const char* defaultExtension, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent)
    : m_pParent(parent)
{
    m_request.openStyle = openStyle != FALSE;
    m_request.title = openStyle ? "Open" : "Save As";
    m_request.defaultExtension = defaultExtension ? defaultExtension : "";
    m_request.initialFileName = fileName ? fileName : "";
    m_request.flags = flags;
    // "desc|pattern|desc|pattern||"
    std::string text = filter ? filter : "";
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < text.size()) {
        size_t bar = text.find('|', start);
        if (bar == std::string::npos)
            bar = text.size();
        parts.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    for (size_t i = 0; i + 1 < parts.size(); i += 2)
        if (!parts[i].empty() || !parts[i + 1].empty())
            m_request.filters.emplace_back(parts[i], parts[i + 1]);
}

namespace {

std::optional<std::string> RunQtFileDialog(const FileDialogRequest& request, CWnd* parent)
{
    AfxEnsureQtApplication();
    QWidget* owner = parent && parent->GetQWidget() ? parent->GetQWidget() : ActiveOwnerWidget();
    QFileDialog dialog(owner, QString::fromStdString(request.title));
    dialog.setAcceptMode(request.openStyle ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(request.openStyle ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QFileDialog::Options options = QFileDialog::DontUseNativeDialog;
    if (!(request.flags & OFN_OVERWRITEPROMPT))
        options |= QFileDialog::DontConfirmOverwrite;
    dialog.setOptions(options);
    dialog.setDirectory(QDir::currentPath());
    if (!request.defaultExtension.empty())
        dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    QStringList filters;
    for (const auto& [description, pattern] : request.filters) {
        // "*.*" means every file; Qt's "*" does.
        QString qtPattern = QString::fromStdString(pattern).replace(QStringLiteral("*.*"), QStringLiteral("*"));
        qtPattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString label = QString::fromStdString(description);
        int paren = label.lastIndexOf(QLatin1Char('('));
        if (paren > 0)
            label = label.left(paren).trimmed();
        filters << QStringLiteral("%1 (%2)").arg(label, qtPattern);
    }
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!request.initialFileName.empty())
        dialog.selectFile(QString::fromStdString(request.initialFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

}  // namespace

INT_PTR CFileDialog::DoModal()
{
    FileDialogHook hook;
    {
        std::lock_guard<std::mutex> lock(g_fileDialogMutex);
        hook = g_fileDialogHook;
    }
    std::optional<std::string> chosen = hook ? hook(m_request) : RunQtFileDialog(m_request, m_pParent);
    if (!chosen || chosen->empty()) {
        m_strPathName = "";
        return IDCANCEL;
    }
    QFileInfo info(QDir::current(), QString::fromStdString(*chosen));
    QString path = QDir::cleanPath(info.absoluteFilePath());
    // A name typed without an extension gets the default one.
    if (!m_request.defaultExtension.empty() && !QFileInfo(path).fileName().contains(QLatin1Char('.')))
        path += QLatin1Char('.') + QString::fromStdString(m_request.defaultExtension);
    m_strPathName = path.toStdString();
    return IDOK;
}
