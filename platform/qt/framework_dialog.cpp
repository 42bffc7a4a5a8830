// Dialogs of the framework: building the window from its template, the modal loop, data exchange.
#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/qt/framework_p.h"

// ---- The dialog's window ----

FrameworkDialogWidget::FrameworkDialogWidget(CDialog* owner, QWidget* parent)
    : QDialog(parent), m_pOwner(owner)
{
}

void FrameworkDialogWidget::Finish(int result)
{
    m_bFinishing = true;
    done(result);
    m_bFinishing = false;
}

void FrameworkDialogWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        // F1 asks the application for help.
        if (CWinApp* app = AfxGetApp())
            app->OnCmdMsg(ID_HELP);
        return;
    }
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            // As a dialog manager does: a focused push button is pressed, else the default button, else
            // the OK command goes to the dialog.
            if (auto* focused = qobject_cast<QPushButton*>(focusWidget())) {
                if (focused->isEnabled())
                    focused->click();
                return;
            }
            for (auto* button : findChildren<QPushButton*>()) {
                if (button->isDefault() && button->isEnabled() && !button->isHidden()) {
                    button->click();
                    return;
                }
            }
            m_pOwner->SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void FrameworkDialogWidget::reject()
{
    // Escape: the framework's Cancel command.
    m_pOwner->SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void FrameworkDialogWidget::closeEvent(QCloseEvent* event)
{
    if (m_bFinishing) {
        event->accept();
        return;
    }
    // The caption's close box: the system command SC_CLOSE, which the window ends or not.
    event->ignore();
    m_pOwner->SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void FrameworkDialogWidget::contextMenuEvent(QContextMenuEvent* event)
{
    CMenu* menu = FrameworkAccess::SystemMenu(*m_pOwner);
    if (menu && menu->GetQMenu() && menu->GetMenuItemCount() > 0)
        menu->GetQMenu()->exec(event->globalPos());
}

void FrameworkDialogWidget::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    m_bInPaint = true;
    m_pOwner->SendMessage(WM_PAINT, 0, 0);
    m_bInPaint = false;
}

bool FrameworkDialogWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        // The pointer entered a control or the window's background: ask the window for its cursor.
        auto* widget = qobject_cast<QWidget*>(watched);
        CWnd* window = m_pOwner;
        for (auto& [id, control] : FrameworkAccess::Controls(*m_pOwner))
            if (control->GetQWidget() == widget)
                window = control.get();
        if (window == m_pOwner || widget == this) {
            for (auto& control : FrameworkAccess::UnnamedControls(*m_pOwner))
                if (control->GetQWidget() == widget)
                    window = control.get();
        }
        SetCursorTarget(widget);
        m_pOwner->SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    }
    return QDialog::eventFilter(watched, event);
}

FrameworkDialogWidget* FrameworkAccess::DialogWidget(const CWnd& w)
{
    return dynamic_cast<FrameworkDialogWidget*>(w.GetQWidget());
}

QWidget* ActiveOwnerWidget()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow())
        return active;
    CWnd* main = AfxGetMainWnd();
    return main ? main->GetQWidget() : nullptr;
}

// ---- CDialog ----

CDialog::CDialog(const DialogTemplate& dialogTemplate, CWnd* parent) : m_template(dialogTemplate), m_pParentWnd(parent)
{
}

CDialog::~CDialog()
{
    DestroyWindow();
}

void CDialog::MapDialogRect(RECT* rect) const
{
    if (!rect)
        return;
    rect->left = rect->left * m_baseUnitX / 4;
    rect->right = rect->right * m_baseUnitX / 4;
    rect->top = rect->top * m_baseUnitY / 8;
    rect->bottom = rect->bottom * m_baseUnitY / 8;
}

void CDialog::BuildWindow()
{
    AfxEnsureQtApplication();
    DestroyWindow();
    QWidget* parentWidget = m_pParentWnd ? m_pParentWnd->GetQWidget() : nullptr;
    if (!parentWidget) {
        // A dialog made without a parent is owned by the main window while it runs.
        CWnd* main = AfxGetMainWnd();
        if (main && main != this)
            parentWidget = main->GetQWidget();
    }
    auto* widget = new FrameworkDialogWidget(this, parentWidget);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (m_template.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_template.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (m_template.style & WS_MAXIMIZEBOX)
        flags |= Qt::WindowMaximizeButtonHint;
    widget->setWindowFlags(flags);
    widget->setWindowTitle(QString::fromUtf8(m_template.caption ? m_template.caption : ""));
    QFont font(QString::fromUtf8(m_template.fontName ? m_template.fontName : ""), m_template.pointSize);
    widget->setFont(font);
    FrameworkAccess::SetWidget(*this, widget, 0, m_pParentWnd);

    // Dialog base units from the font: average width of the letters and the line height.
    QFontMetrics metrics(font);
    int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseUnitX = std::max(1, (letters / 26 + 1) / 2);
    m_baseUnitY = std::max(1, metrics.height());
    RECT size{0, 0, m_template.cx, m_template.cy};
    MapDialogRect(&size);
    widget->setFixedSize(static_cast<int>(size.right), static_cast<int>(size.bottom));

    auto& controls = FrameworkAccess::Controls(*this);
    auto& unnamed = FrameworkAccess::UnnamedControls(*this);
    std::vector<QWidget*> frames;
    for (const DialogControlTemplate& c : m_template.controls) {
        QString text = QString::fromUtf8(c.text ? c.text : "");
        QWidget* w = nullptr;
        std::unique_ptr<CWnd> wrapper;
        int heightDu = c.cy;
        switch (c.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, widget);
            bool isDefault = (c.style & BS_DEFPUSHBUTTON) != 0;
            button->setAutoDefault(false);
            button->setDefault(isDefault);
            QObject::connect(button, &QPushButton::clicked, [this, id = c.id] {
                SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), BN_CLICKED), 0);
            });
            w = button;
            wrapper = std::make_unique<CButton>();
            break;
        }
        case ControlKind::AutoRadioButton: {
            auto* radio = new QRadioButton(text, widget);
            QObject::connect(radio, &QRadioButton::clicked, [this, id = c.id] {
                SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), BN_CLICKED), 0);
            });
            w = radio;
            wrapper = std::make_unique<CButton>();
            break;
        }
        case ControlKind::StaticText: {
            auto* label = new QLabel(text, widget);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            w = label;
            wrapper = std::make_unique<CStatic>();
            break;
        }
        case ControlKind::GroupBox: {
            auto* group = new QGroupBox(text, widget);
            group->setAttribute(Qt::WA_TransparentForMouseEvents);
            frames.push_back(group);
            w = group;
            wrapper = std::make_unique<CStatic>();
            break;
        }
        case ControlKind::Edit: {
            if (c.style & ES_MULTILINE) {
                auto* edit = new QPlainTextEdit(widget);
                edit->setReadOnly((c.style & ES_READONLY) != 0);
                edit->setVerticalScrollBarPolicy((c.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
                edit->setTabChangesFocus(true);
                w = edit;
            } else {
                auto* edit = new QLineEdit(widget);
                edit->setReadOnly((c.style & ES_READONLY) != 0);
                w = edit;
            }
            wrapper = std::make_unique<CEdit>();
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(widget);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setDuplicatesEnabled(true);
            combo->setProperty("quorixSorted", (c.style & CBS_SORT) != 0);
            if (combo->completer())
                combo->setCompleter(nullptr);
            for (const char* entry : c.initialData)
                combo->addItem(QString::fromUtf8(entry));
            combo->setCurrentIndex(-1);
            combo->setEditText(QString());
            // The template's height is that of the open list; the closed box is one field high.
            heightDu = std::min(c.cy, 13);
            w = combo;
            wrapper = std::make_unique<CComboBox>();
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(widget);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            w = bar;
            wrapper = std::make_unique<CProgressCtrl>();
            break;
        }
        case ControlKind::Picture: {
            auto* picture = new FrameworkPictureLabel(widget);
            picture->setAlignment((c.style & SS_CENTERIMAGE) ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignTop));
            if (c.style & SS_SUNKEN)
                picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            if (FrameworkImage* image = c.imageId ? LoadImageResource(c.imageId) : nullptr)
                picture->setPixmap(image->pixmap);
            if (c.style & SS_NOTIFY) {
                picture->onClicked = [this, id = c.id] {
                    SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), STN_CLICKED), 0);
                };
            }
            w = picture;
            wrapper = std::make_unique<CStatic>();
            break;
        }
        }
        RECT r{c.x, c.y, c.x + c.cx, c.y + heightDu};
        MapDialogRect(&r);
        w->setGeometry(static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right - r.left),
                       static_cast<int>(r.bottom - r.top));
        w->setEnabled((c.style & WS_DISABLED) == 0);
        if (auto* button = qobject_cast<QPushButton*>(w))
            FitCaptionToButton(button);
        RememberClassCursor(w);
        w->installEventFilter(widget);
        w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
        FrameworkAccess::SetWidget(*wrapper, w, c.id, this);
        if (c.id > 0)
            controls[c.id] = std::move(wrapper);
        else
            unnamed.push_back(std::move(wrapper));
    }
    // Frames are drawn behind the controls they surround and never take the clicks meant for them.
    for (QWidget* frame : frames)
        frame->lower();
    widget->installEventFilter(widget);
}

void CDialog::DestroyWindow()
{
    QWidget* widget = GetQWidget();
    if (!widget || m_bDestroying)
        return;
    // The window learns of its end while its controls still exist, whatever ended it.
    m_bDestroying = true;
    SendMessage(WM_DESTROY);
    m_bDestroying = false;
    FrameworkAccess::ClearTimers(*this);
    for (CWnd* bound : m_boundControls)
        FrameworkAccess::SetWidget(*bound, nullptr, 0, nullptr);
    m_boundControls.clear();
    FrameworkAccess::Controls(*this).clear();
    FrameworkAccess::UnnamedControls(*this).clear();
    FrameworkAccess::SetWidget(*this, nullptr, 0, m_pParentWnd);
    delete widget;
}

BOOL CDialog::Create()
{
    return CreateAndInitialise(false);
}

BOOL CDialog::CreateAndInitialise(bool modal)
{
    BuildWindow();
    // A modal window blocks its owners from the moment it is first shown.
    if (modal)
        GetQWidget()->setWindowModality(Qt::ApplicationModal);
    m_bEnded = false;
    m_bEndPending = false;
    m_nResult = 0;
    BOOL focusDefault = OnInitDialog();
    if (m_bEnded)
        return TRUE;
    QWidget* widget = GetQWidget();
    widget->show();
    if (focusDefault) {
        // The first control in tab order that can take the focus.
        for (const DialogControlTemplate& c : m_template.controls) {
            CWnd* control = c.id > 0 ? GetDlgItem(c.id) : nullptr;
            QWidget* w = control ? control->GetQWidget() : nullptr;
            if (w && w->isEnabled() && !w->isHidden() && w->focusPolicy() != Qt::NoFocus) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    return TRUE;
}

INT_PTR CDialog::DoModal()
{
    CreateAndInitialise(true);
    auto* widget = FrameworkAccess::DialogWidget(*this);
    if (!m_bEnded && widget) {
        m_bInModalLoop = true;
        widget->exec();
        m_bInModalLoop = false;
    }
    DestroyWindow();
    return m_nResult;
}

void CDialog::EndDialog(int result)
{
    m_nResult = result;
    m_bEnded = true;
    m_bEndPending = true;
    if (m_nDispatchDepth == 0)
        FinishPendingEnd();
}

void CDialog::FinishPendingEnd()
{
    if (!m_bEndPending)
        return;
    m_bEndPending = false;
    if (auto* widget = FrameworkAccess::DialogWidget(*this))
        widget->Finish(m_nResult);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    if (!GetQWidget())
        return FALSE;
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return dx.m_bFailed ? FALSE : TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*)
{
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- Data exchange ----

CWnd* CDataExchange::PrepareCtrl(int id)
{
    m_idLastControl = id;
    return m_pDlgWnd ? m_pDlgWnd->GetDlgItem(id) : nullptr;
}

void CDataExchange::Fail()
{
    m_bFailed = true;
    CWnd* control = m_pDlgWnd ? m_pDlgWnd->GetDlgItem(m_idLastControl) : nullptr;
    if (!control || !control->GetQWidget())
        return;
    control->SetFocus();
    if (auto* line = qobject_cast<QLineEdit*>(control->GetQWidget()))
        line->selectAll();
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (pDX->m_bFailed || control.GetQWidget())
        return;
    CWnd* item = pDX->PrepareCtrl(id);
    auto* dialog = dynamic_cast<CDialog*>(pDX->m_pDlgWnd);
    if (!item || !dialog)
        return;
    FrameworkAccess::SetWidget(control, item->GetQWidget(), id, pDX->m_pDlgWnd);
    FrameworkAccess::BoundControls(*dialog).push_back(&control);
}

void DDX_Text(CDataExchange* pDX, int id, CString& value)
{
    if (pDX->m_bFailed)
        return;
    CWnd* item = pDX->PrepareCtrl(id);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate)
        item->GetWindowText(value);
    else
        item->SetWindowText(value);
}

namespace {

// A whole decimal number with blanks around it allowed, within [minimum, maximum].
bool ParseWholeNumber(const CString& text, long long minimum, long long maximum, long long& out)
{
    const char* s = text.GetString();
    while (*s == ' ' || *s == '\t')
        ++s;
    if (!*s)
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s, &end, 10);
    if (end == s || errno == ERANGE)
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end)
        return false;
    if (v < minimum || v > maximum)
        return false;
    out = v;
    return true;
}

template <class T>
void ExchangeNumber(CDataExchange* pDX, int id, T& value, long long minimum, long long maximum)
{
    if (pDX->m_bFailed)
        return;
    CWnd* item = pDX->PrepareCtrl(id);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate) {
        long long parsed = 0;
        if (!ParseWholeNumber(item->GetWindowTextString(), minimum, maximum, parsed)) {
            AfxMessageBox("Please enter an integer.", MB_ICONEXCLAMATION);
            pDX->Fail();
            return;
        }
        value = static_cast<T>(parsed);
    } else {
        CString text;
        text.Format("%lld", static_cast<long long>(value));
        item->SetWindowText(text);
    }
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int id, int& value)
{
    ExchangeNumber(pDX, id, value, INT_MIN, INT_MAX);
}

void DDX_Text(CDataExchange* pDX, int id, long& value)
{
    ExchangeNumber(pDX, id, value, LONG_MIN, LONG_MAX);
}

void DDX_CBString(CDataExchange* pDX, int id, CString& value)
{
    if (pDX->m_bFailed)
        return;
    auto* combo = dynamic_cast<CComboBox*>(pDX->PrepareCtrl(id));
    if (!combo)
        return;
    if (pDX->m_bSaveAndValidate) {
        combo->GetWindowText(value);
    } else if (combo->SelectString(-1, value) < 0) {
        combo->SetWindowText(value);
    }
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minimum, int maximum)
{
    if (pDX->m_bFailed || !pDX->m_bSaveAndValidate)
        return;
    if (value < minimum || value > maximum) {
        CString text;
        text.Format("Please enter an integer between %d and %d.", minimum, maximum);
        AfxMessageBox(text, MB_ICONEXCLAMATION);
        pDX->Fail();
    }
}
