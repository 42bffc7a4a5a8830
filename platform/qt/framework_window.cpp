// Windows and controls of the dialog framework: messages, timers, texts, menus, images and cursors.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QRadioButton>
#include <QTimer>

#include <map>
#include <mutex>

#include "platform/message_box.h"
#include "platform/qt/framework_p.h"
#include "platform/shell_open.h"

namespace {

std::mutex g_resourceMutex;
std::map<UINT, std::string> g_imagePaths;
std::map<UINT, std::string> g_strings;
std::map<UINT, std::unique_ptr<FrameworkImage>> g_imageCache;

QPointer<QWidget> g_cursorTarget;
const char kClassCursorProperty[] = "quorixClassCursor";
HCURSOR g_currentCursor = nullptr;

// Multi-line edits hold "\n"; the program's texts break lines with "\r\n".
QString ToQtText(const char* text, bool multiLine)
{
    QString s = QString::fromUtf8(text ? text : "");
    if (multiLine) {
        s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        s.remove(QLatin1Char('\r'));
    }
    return s;
}

}  // namespace

// ---- Resources ----

void RegisterImageResource(UINT id, const char* qtResourcePath)
{
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    g_imagePaths[id] = qtResourcePath ? qtResourcePath : "";
    g_imageCache.erase(id);
}

void RegisterStringResource(UINT id, const char* text)
{
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    g_strings[id] = text ? text : "";
}

BOOL AfxLoadString(UINT id, CString& out)
{
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    auto it = g_strings.find(id);
    if (it == g_strings.end())
        return FALSE;
    out = it->second;
    return TRUE;
}

FrameworkImage* LoadImageResource(UINT id)
{
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    auto cached = g_imageCache.find(id);
    if (cached != g_imageCache.end())
        return cached->second.get();
    auto path = g_imagePaths.find(id);
    if (path == g_imagePaths.end())
        return nullptr;
    QPixmap pixmap(QString::fromStdString(path->second));
    if (pixmap.isNull())
        return nullptr;
    auto image = std::make_unique<FrameworkImage>();
    image->pixmap = pixmap;
    image->icon = QIcon(pixmap);
    FrameworkImage* result = image.get();
    g_imageCache[id] = std::move(image);
    return result;
}

int GetSystemMetrics(int index)
{
    switch (index) {
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    default:
        return 0;
    }
}

// ---- Widgets ----

void FitCaptionToButton(QPushButton* button)
{
    button->setFont(QFont());  // the dialog's font, as the window gives it
    QString caption;
    const QString text = button->text();
    for (int i = 0; i < text.size(); ++i) {
        // "&x" underlines x and takes no room of its own; "&&" shows one "&".
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        caption += text[i];
    }
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    const int room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
    QFont font = button->font();
    qreal size = font.pointSizeF();
    if (size <= 0)
        return;
    bool smaller = false;
    while (QFontMetrics(font).horizontalAdvance(caption) > room && size > 6) {
        size -= 0.5;
        font.setPointSizeF(size);
        smaller = true;
    }
    if (smaller)
        button->setFont(font);
}

void FrameworkPictureLabel::mousePressEvent(QMouseEvent* event)
{
    QLabel::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        m_bLeftDown = rect().contains(event->position().toPoint());
}

void FrameworkPictureLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    // A press that began elsewhere, or a release dragged off the picture, is no click.
    bool clicked = m_bLeftDown && rect().contains(event->position().toPoint());
    m_bLeftDown = false;
    if (clicked && onClicked)
        onClicked();
}

// ---- CWnd ----

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    m_timers.clear();
}

const MessageMap& CWnd::GetMessageMap() const
{
    static const MessageMap empty;
    return empty;
}

CWnd* CWnd::GetDlgItem(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second.get();
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    if (!m_pWidget)
        return FALSE;
    BOOL wasDisabled = !m_pWidget->isEnabled();
    m_pWidget->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const
{
    return m_pWidget && m_pWidget->isEnabled();
}

BOOL CWnd::ShowWindow(int command)
{
    if (!m_pWidget)
        return FALSE;
    BOOL wasVisible = !m_pWidget->isHidden();
    m_pWidget->setVisible(command != SW_HIDE);
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const
{
    // A control counts as visible when it is not hidden itself, whether or not its window is shown.
    return m_pWidget && !m_pWidget->isHidden();
}

void CWnd::SetWindowText(const char* text)
{
    if (!m_pWidget)
        return;
    if (auto* plain = qobject_cast<QPlainTextEdit*>(m_pWidget))
        plain->setPlainText(ToQtText(text, true));
    else if (auto* line = qobject_cast<QLineEdit*>(m_pWidget)) {
        line->setText(ToQtText(text, false));
        line->setCursorPosition(0);  // a long text shows its beginning, as an edit control does
    } else if (auto* combo = qobject_cast<QComboBox*>(m_pWidget)) {
        combo->setEditText(ToQtText(text, false));
        if (combo->lineEdit())
            combo->lineEdit()->setCursorPosition(0);
    }
    else if (auto* button = qobject_cast<QAbstractButton*>(m_pWidget)) {
        button->setText(ToQtText(text, false));
        if (auto* push = qobject_cast<QPushButton*>(button))
            FitCaptionToButton(push);
    }
    else if (auto* group = qobject_cast<QGroupBox*>(m_pWidget))
        group->setTitle(ToQtText(text, false));
    else if (auto* label = qobject_cast<QLabel*>(m_pWidget))
        label->setText(ToQtText(text, true));
    else
        m_pWidget->setWindowTitle(ToQtText(text, false));
}

CString CWnd::GetWindowTextString() const
{
    if (!m_pWidget)
        return CString();
    QString s;
    if (auto* plain = qobject_cast<QPlainTextEdit*>(m_pWidget)) {
        s = plain->toPlainText();
        s.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    } else if (auto* line = qobject_cast<QLineEdit*>(m_pWidget)) {
        s = line->text();
    } else if (auto* combo = qobject_cast<QComboBox*>(m_pWidget)) {
        s = combo->currentText();
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_pWidget)) {
        s = button->text();
    } else if (auto* group = qobject_cast<QGroupBox*>(m_pWidget)) {
        s = group->title();
    } else if (auto* label = qobject_cast<QLabel*>(m_pWidget)) {
        s = label->text();
    } else {
        s = m_pWidget->windowTitle();
    }
    return CString(s.toUtf8().toStdString());
}

void CWnd::GetWindowText(CString& text) const
{
    text = GetWindowTextString();
}

CWnd* CWnd::SetFocus()
{
    if (m_pWidget)
        m_pWidget->setFocus(Qt::OtherFocusReason);
    return nullptr;
}

BOOL CWnd::IsIconic() const
{
    return m_pWidget && m_pWidget->isMinimized();
}

void CWnd::GetClientRect(RECT* rect) const
{
    if (!rect)
        return;
    rect->left = rect->top = 0;
    rect->right = m_pWidget ? m_pWidget->width() : 0;
    rect->bottom = m_pWidget ? m_pWidget->height() : 0;
}

void CWnd::Invalidate()
{
    if (m_pWidget)
        m_pWidget->update();
}

void CWnd::CheckRadioButton(int firstId, int lastId, int checkId)
{
    for (auto& [id, control] : m_controls) {
        if (id < firstId || id > lastId)
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(control->GetQWidget())) {
            // Set without the auto-exclusive group undoing it, and without a click notification.
            bool exclusive = button->autoExclusive();
            button->setAutoExclusive(false);
            button->setChecked(id == checkId);
            button->setAutoExclusive(exclusive);
        }
    }
}

UINT CWnd::IsDlgButtonChecked(int id) const
{
    CWnd* control = GetDlgItem(id);
    auto* button = control ? qobject_cast<QAbstractButton*>(control->GetQWidget()) : nullptr;
    return button && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

HICON CWnd::SetIcon(HICON icon, BOOL big)
{
    HICON& slot = big ? m_hBigIcon : m_hSmallIcon;
    HICON previous = slot;
    slot = icon;
    // The window manager draws the task bar entry, the minimised window and its drag image from it.
    if (m_pWidget && icon)
        m_pWidget->setWindowIcon(icon->icon);
    return previous;
}

HICON CWnd::GetIcon(BOOL big) const
{
    return big ? m_hBigIcon : m_hSmallIcon;
}

CMenu* CWnd::GetSystemMenu(BOOL revert)
{
    if (revert) {
        m_pSystemMenu.reset();
        return nullptr;
    }
    if (!m_pSystemMenu) {
        m_pSystemMenu = std::make_unique<CMenu>();
        m_pSystemMenu->Bind(this);
    }
    return m_pSystemMenu.get();
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, void* /*callback*/)
{
    if (!m_pWidget || id == 0)
        return 0;
    auto& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, [this, id] { SendMessage(WM_TIMER, id, 0); });
    }
    timer->start(static_cast<int>(elapseMs));
    return id;
}

BOOL CWnd::KillTimer(UINT_PTR id)
{
    auto it = m_timers.find(id);
    if (it == m_timers.end())
        return FALSE;
    // The timer may be the one whose expiry is being handled: stop it now, delete it later.
    QTimer* timer = it->second.release();
    m_timers.erase(it);
    timer->stop();
    timer->deleteLater();
    return TRUE;
}

bool CWnd::HasTimer(UINT_PTR id) const
{
    return m_timers.count(id) != 0;
}

UINT CWnd::GetTimerElapse(UINT_PTR id) const
{
    auto it = m_timers.find(id);
    return it == m_timers.end() ? 0 : static_cast<UINT>(it->second->interval());
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type)
{
    return MessageBoxA(this, text, caption ? caption : AfxGetAppName(), type);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    UINT savedMessage = m_currentMessage;
    WPARAM savedW = m_currentWParam;
    LPARAM savedL = m_currentLParam;
    m_currentMessage = message;
    m_currentWParam = wParam;
    m_currentLParam = lParam;
    ++m_nDispatchDepth;
    LRESULT result = 0;
    bool handled = false;
    for (const MessageMapEntry& entry : GetMessageMap()) {
        if (entry.message != message)
            continue;
        if (message == WM_COMMAND && (static_cast<int>(LOWORD(wParam)) != entry.id || HIWORD(wParam) != entry.code))
            continue;
        result = entry.handler(*this, wParam, lParam);
        handled = true;
        break;
    }
    if (!handled)
        result = DefWindowProc(message, wParam, lParam);
    m_currentMessage = savedMessage;
    m_currentWParam = savedW;
    m_currentLParam = savedL;
    // A dialog ended by a handler goes once the outermost handler has returned.
    if (--m_nDispatchDepth == 0) {
        if (auto* dialog = dynamic_cast<CDialog*>(this))
            dialog->FinishPendingEnd();
    }
    return result;
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_currentMessage, m_currentWParam, m_currentLParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            return SendMessage(WM_CLOSE);
        return 0;
    case WM_CLOSE:
        if (auto* dialog = dynamic_cast<CDialog*>(this))
            dialog->OnCancel();
        return 0;
    case WM_SETCURSOR: {
        // The window under the pointer shows its own class's cursor: an edit keeps its text cursor.
        auto* window = reinterpret_cast<CWnd*>(wParam);
        if (window && window->GetQWidget())
            RestoreClassCursor(window->GetQWidget());
        return FALSE;
    }
    default:
        return 0;
    }
}

void CWnd::OnSysCommand(UINT, LPARAM)
{
    Default();
}

void CWnd::OnPaint()
{
    Default();
}

void CWnd::OnDestroy()
{
    Default();
}

HCURSOR CWnd::OnQueryDragIcon()
{
    return reinterpret_cast<HCURSOR>(Default());
}

void CWnd::OnTimer(UINT_PTR)
{
    Default();
}

BOOL CWnd::OnSetCursor(CWnd* window, UINT hitTest, UINT message)
{
    return static_cast<BOOL>(DefWindowProc(WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(hitTest, message)));
}

BOOL CWnd::OnCommand(WPARAM, LPARAM)
{
    return FALSE;
}

void FrameworkAccess::ClearTimers(CWnd& w)
{
    for (auto& [id, timer] : w.m_timers)
        timer->stop();
    w.m_timers.clear();
}

// ---- Controls ----

void CButton::SetCheck(int check)
{
    if (auto* button = qobject_cast<QAbstractButton*>(GetQWidget())) {
        bool exclusive = button->autoExclusive();
        button->setAutoExclusive(false);
        button->setChecked(check == BST_CHECKED);
        button->setAutoExclusive(exclusive);
    }
}

int CButton::GetCheck() const
{
    auto* button = qobject_cast<QAbstractButton*>(GetQWidget());
    return button && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

HBITMAP CStatic::SetBitmap(HBITMAP bitmap)
{
    HBITMAP previous = m_hBitmap;
    m_hBitmap = bitmap;
    if (auto* label = qobject_cast<QLabel*>(GetQWidget())) {
        if (bitmap)
            label->setPixmap(bitmap->pixmap);
        else
            label->clear();
    }
    return previous;
}

HBITMAP CStatic::GetBitmap() const
{
    return m_hBitmap;
}

namespace {
QComboBox* ComboOf(const CWnd* w)
{
    return qobject_cast<QComboBox*>(w->GetQWidget());
}
}  // namespace

int CComboBox::AddString(const char* text)
{
    QComboBox* combo = ComboOf(this);
    if (!combo)
        return -1;
    QString item = QString::fromUtf8(text ? text : "");
    int index = combo->count();
    if (combo->property("quorixSorted").toBool()) {
        // Sorted lists compare without regard to letter case; equal texts keep their arrival order.
        index = 0;
        while (index < combo->count() && QString::compare(combo->itemText(index), item, Qt::CaseInsensitive) <= 0)
            ++index;
    }
    QString editText = combo->currentText();
    int current = combo->currentIndex();
    combo->insertItem(index, item);
    // Adding to the list never changes the edit field.
    if (current < 0) {
        combo->setCurrentIndex(-1);
        combo->setEditText(editText);
    }
    return index;
}

int CComboBox::GetCount() const
{
    QComboBox* combo = ComboOf(this);
    return combo ? combo->count() : 0;
}

void CComboBox::GetLBText(int index, CString& text) const
{
    QComboBox* combo = ComboOf(this);
    text = combo && index >= 0 && index < combo->count() ? combo->itemText(index).toUtf8().toStdString() : "";
}

int CComboBox::GetCurSel() const
{
    QComboBox* combo = ComboOf(this);
    return combo ? combo->currentIndex() : -1;
}

int CComboBox::SetCurSel(int index)
{
    QComboBox* combo = ComboOf(this);
    if (!combo || index < -1 || index >= combo->count())
        return -1;
    combo->setCurrentIndex(index);
    if (index < 0)
        combo->setEditText(QString());
    if (combo->lineEdit())
        combo->lineEdit()->setCursorPosition(0);
    return index;
}

int CComboBox::FindString(int startAfter, const char* text) const
{
    QComboBox* combo = ComboOf(this);
    QString prefix = QString::fromUtf8(text ? text : "");
    if (!combo || prefix.isEmpty())
        return -1;
    int n = combo->count();
    for (int k = 0; k < n; ++k) {
        int index = (startAfter + 1 + k) % n;
        if (startAfter < 0)
            index = k;
        if (combo->itemText(index).startsWith(prefix, Qt::CaseInsensitive))
            return index;
    }
    return -1;
}

int CComboBox::SelectString(int startAfter, const char* text)
{
    int index = FindString(startAfter, text);
    if (index >= 0)
        SetCurSel(index);
    return index;
}

void CComboBox::ResetContent()
{
    if (QComboBox* combo = ComboOf(this))
        combo->clear();
}

void CProgressCtrl::SetRange(short lower, short upper)
{
    if (auto* bar = qobject_cast<QProgressBar*>(GetQWidget()))
        bar->setRange(lower, upper);
}

int CProgressCtrl::SetPos(int position)
{
    auto* bar = qobject_cast<QProgressBar*>(GetQWidget());
    if (!bar)
        return 0;
    int previous = bar->value();
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    return previous;
}

int CProgressCtrl::GetPos() const
{
    auto* bar = qobject_cast<QProgressBar*>(GetQWidget());
    return bar ? bar->value() : 0;
}

CBitmap::~CBitmap()
{
    delete m_hBitmap;
}

BOOL CBitmap::LoadBitmap(UINT resourceId)
{
    FrameworkImage* image = LoadImageResource(resourceId);
    if (!image)
        return FALSE;
    delete m_hBitmap;
    m_hBitmap = new FrameworkImage(*image);
    return TRUE;
}

// ---- Menus ----

CMenu::CMenu() = default;
CMenu::~CMenu() = default;

void CMenu::Bind(CWnd* owner)
{
    m_pOwner = owner;
}

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, const char* text)
{
    bool separator = (flags & MF_SEPARATOR) != 0;
    m_items.push_back({separator ? 0 : id, separator ? std::string() : std::string(text ? text : ""), separator});
    if (!m_menu)
        m_menu = std::make_unique<QMenu>();
    if (separator) {
        m_menu->addSeparator();
    } else {
        QAction* action = m_menu->addAction(QString::fromUtf8(text ? text : ""));
        CWnd* owner = m_pOwner;
        QObject::connect(action, &QAction::triggered, [owner, id] {
            if (owner)
                owner->SendMessage(WM_SYSCOMMAND, id, 0);
        });
    }
    return TRUE;
}

int CMenu::GetMenuItemCount() const
{
    return static_cast<int>(m_items.size());
}

QMenu* CMenu::GetQMenu() const
{
    return m_menu.get();
}

// ---- Painting ----

CPaintDC::CPaintDC(CWnd* window) : m_pWindow(window)
{
    FrameworkDialogWidget* widget = window ? FrameworkAccess::DialogWidget(*window) : nullptr;
    if (widget && widget->InPaint())
        m_pPainter = new QPainter(widget);
}

CPaintDC::~CPaintDC()
{
    delete static_cast<QPainter*>(m_pPainter);
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon)
{
    if (!icon || !m_pPainter)
        return FALSE;
    int size = GetSystemMetrics(SM_CXICON);
    static_cast<QPainter*>(m_pPainter)->drawPixmap(x, y, icon->icon.pixmap(size, size));
    return TRUE;
}

// ---- Cursors ----

namespace {
std::mutex g_cursorMutex;
std::vector<std::unique_ptr<FrameworkImage>> g_cursorCopies;  // kept for the life of the process

FrameworkImage* SystemCursor(Qt::CursorShape shape)
{
    static std::map<int, std::unique_ptr<FrameworkImage>> cursors;
    std::lock_guard<std::mutex> lock(g_cursorMutex);
    auto& slot = cursors[shape];
    if (!slot) {
        slot = std::make_unique<FrameworkImage>();
        slot->cursorShape = shape;
    }
    return slot.get();
}
}  // namespace

HCURSOR LoadCursorA(void* module, uintptr_t cursorId)
{
    if (module)
        return nullptr;
    switch (cursorId) {
    case IDC_HAND:
        return SystemCursor(Qt::PointingHandCursor);
    case IDC_ARROW:
        return SystemCursor(Qt::ArrowCursor);
    default:
        return nullptr;
    }
}

HICON CopyIcon(HICON icon)
{
    if (!icon)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_cursorMutex);
    g_cursorCopies.push_back(std::make_unique<FrameworkImage>(*icon));
    return g_cursorCopies.back().get();
}

void RememberClassCursor(QWidget* widget)
{
    if (widget->testAttribute(Qt::WA_SetCursor))
        widget->setProperty(kClassCursorProperty, QVariant::fromValue(widget->cursor()));
}

void RestoreClassCursor(QWidget* widget)
{
    QVariant cursor = widget->property(kClassCursorProperty);
    if (cursor.isValid())
        widget->setCursor(cursor.value<QCursor>());
    else
        widget->unsetCursor();
}

void SetCursorTarget(QWidget* widget)
{
    g_cursorTarget = widget;
}

HCURSOR SetCursor(HCURSOR cursor)
{
    HCURSOR previous = g_currentCursor;
    g_currentCursor = cursor;
    if (g_cursorTarget) {
        int shape = cursor ? cursor->cursorShape : -1;
        if (shape >= 0)
            g_cursorTarget->setCursor(QCursor(static_cast<Qt::CursorShape>(shape)));
        else if (cursor)
            g_cursorTarget->setCursor(QCursor(cursor->pixmap));
        else
            g_cursorTarget->setCursor(Qt::BlankCursor);
    }
    return previous;
}

int GetCursorShape(HCURSOR cursor)
{
    return cursor ? cursor->cursorShape : -1;
}

// ---- The shell's "open" ----

intptr_t ShellExecuteA(void*, const char*, const char* file, const char*, const char*, int)
{
    if (!file || !*file)
        return 2;
    return ShellOpen(file) ? 42 : 2;
}
