#include "PinInputDlg.h"

#include "ModuleHandle.h"
#include "resource.h"

#include <commctrl.h>

#include <cstring>

namespace {

constexpr BYTE kDialogAlpha = 252;
constexpr wchar_t kPasswordBullet = 0x2022;

// Colours of the background image's body and title band, which the
// controls and the title text are drawn to match.
constexpr COLORREF kBodyColour = RGB(246, 248, 252);
constexpr COLORREF kTitleColour = RGB(255, 255, 255);
constexpr COLORREF kOkFace = RGB(52, 110, 190);
constexpr COLORREF kCancelFace = RGB(222, 226, 232);
constexpr int kTitleBandHeight = 34; // pixels of the background image
constexpr int kBackgroundHeight = 170;

void CenterOverOwner(HWND window)
{
    RECT area = {}, box = {};
    HWND owner = GetWindow(window, GW_OWNER);
    if (!owner || !GetWindowRect(owner, &area)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window, &box);
    int width = box.right - box.left, height = box.bottom - box.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

CPINInputDlg::~CPINInputDlg()
{
    WipePin();
    if (m_hOkBitmap) DeleteObject(m_hOkBitmap);
    if (m_hCancelBitmap) DeleteObject(m_hCancelBitmap);
    if (m_hToggleBitmap) DeleteObject(m_hToggleBitmap);
    if (m_hBodyBrush) DeleteObject(m_hBodyBrush);
}

void CPINInputDlg::WipePin()
{
    SecureZeroMemory(m_pin, sizeof m_pin);
    m_pinLength = 0;
}

INT_PTR CPINInputDlg::DoModal(HWND owner)
{
    return DialogBoxParamW(CspModuleHandle(), MAKEINTRESOURCEW(IDD_PIN_INPUT), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CPINInputDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* dialog = reinterpret_cast<CPINInputDlg*>(lParam);
        dialog->m_hWnd = window;
        dialog->OnInitDialog();
        // The focus is already in the edit.
        return FALSE;
    }
    auto* dialog = reinterpret_cast<CPINInputDlg*>(GetWindowLongPtrW(window, DWLP_USER));
    return dialog ? dialog->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CPINInputDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_PIN_EDIT && HIWORD(wParam) == EN_CHANGE) {
            OnEditChange();
        } else if (LOWORD(wParam) == IDOK) {
            OnOk();
        } else if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
        } else if (LOWORD(wParam) == IDC_SOFT_KEYBOARD_TOGGLE && HIWORD(wParam) == BN_CLICKED) {
            OnToggleKeyboard();
        }
        return TRUE;
    case WM_CLOSE:
        OnCancel();
        return TRUE;
    case WM_ERASEBKGND:
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_DRAWITEM:
        OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, kBodyColour);
        SetTextColor(dc, RGB(30, 40, 60));
        return reinterpret_cast<INT_PTR>(m_hBodyBrush);
    }
    default:
        return FALSE;
    }
}

void CPINInputDlg::OnInitDialog()
{
    CenterOverOwner(m_hWnd);
    m_pMessageTable = GetMessageTable();
    const wchar_t* const* texts = m_pMessageTable->texts;
    SetWindowTextW(m_hWnd, texts[MSG_VERIFY_PIN]);
    SetDlgItemTextW(m_hWnd, IDCANCEL, texts[MSG_CANCEL]);
    SetDlgItemTextW(m_hWnd, IDOK, texts[MSG_OK]);
    m_hOkButton = GetDlgItem(m_hWnd, IDOK);
    EnableWindow(m_hOkButton, FALSE);

    m_hEdit = GetDlgItem(m_hWnd, IDC_PIN_EDIT);
    // Without the secure edit the typed PIN would be open to every
    // program: no prompt rather than an unsafe one.
    if (!m_safeEdit.SubclassWindow(m_hEdit)) {
        EndDialog(m_hWnd, IDCANCEL);
        return;
    }
    SendMessageW(m_hEdit, EM_LIMITTEXT, kMaxPinChars, 0);
    SendMessageW(m_hEdit, EM_SETPASSWORDCHAR, kPasswordBullet, 0);
    SetDlgItemTextW(m_hWnd, IDC_PIN_PROMPT, texts[MSG_INPUT_PIN]);

    m_hBodyBrush = CreateSolidBrush(kBodyColour);
    HINSTANCE module = CspModuleHandle();
    SetUpToggle();
    m_background.Load(module, IDB_PIN_BACKGROUND);
    m_okImage.Load(module, IDB_PIN_OK);
    m_cancelImage.Load(module, IDB_PIN_CANCEL);
    ShowImage(IDC_PIN_OK_IMAGE, m_okImage, kOkFace, &m_hOkBitmap);
    ShowImage(IDC_PIN_CANCEL_IMAGE, m_cancelImage, kCancelFace, &m_hCancelBitmap);

    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_hWnd, 0, kDialogAlpha, LWA_ALPHA);

    if (!m_softKeyboard.Create(m_hWnd)) EnableWindow(GetDlgItem(m_hWnd, IDC_SOFT_KEYBOARD_TOGGLE), FALSE);
    m_hTargetEdit = m_hEdit;
    SetFocus(m_hEdit);
}

void CPINInputDlg::SetUpToggle()
{
    HWND toggle = GetDlgItem(m_hWnd, IDC_SOFT_KEYBOARD_TOGGLE);
    m_toggleImage.Load(CspModuleHandle(), IDB_SOFT_KEYBOARD);
    m_hToggleBitmap = m_toggleImage.CreateBitmap(kBodyColour);
    if (m_hToggleBitmap) SendMessageW(toggle, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_hToggleBitmap));

    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    // Owned by the dialog, the tip goes with it.
    HWND tip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, CspModuleHandle(), nullptr);
    if (!tip) return;
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(toggle);
    tool.lpszText = const_cast<wchar_t*>(m_pMessageTable->texts[MSG_SOFT_KEYBOARD]);
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CPINInputDlg::ShowImage(int controlId, const CPngImage& image, COLORREF background, HBITMAP* bitmap)
{
    *bitmap = image.CreateBitmap(background);
    if (*bitmap) SendDlgItemMessageW(m_hWnd, controlId, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(*bitmap));
}

void CPINInputDlg::OnEditChange()
{
    bool enough = GetWindowTextLengthW(m_hEdit) >= static_cast<int>(kMinPinLength);
    EnableWindow(m_hOkButton, enough);
    if (!enough) SetFocus(m_hEdit);
}

void CPINInputDlg::OnOk()
{
    if (!TakePin()) {
        SetFocus(m_hEdit);
        return;
    }
    // The control's own copy of the text goes as well.
    SetWindowTextW(m_hEdit, L"");
    EndDialog(m_hWnd, IDOK);
}

bool CPINInputDlg::TakePin()
{
    WipePin();
    // The hidden text is the only source of the PIN: the control holds
    // masks, and a PIN made of them would cost the token a try.
    std::uint32_t hidden = m_safeEdit.HiddenCount();
    // Enter reaches OK even while the button is disabled, so the minimum is
    // checked again before the PIN leaves the dialog.
    if (hidden < kMinPinLength || hidden > kMaxPinChars || hidden > sizeof m_pin) return false;
    m_pinLength = hidden;
    std::memcpy(m_pin, m_safeEdit.HiddenBytes(), m_pinLength);
    return true;
}

void CPINInputDlg::OnCancel()
{
    WipePin();
    m_softKeyboard.Destroy();
    SetWindowTextW(m_hEdit, L"");
    EndDialog(m_hWnd, IDCANCEL);
}

void CPINInputDlg::OnToggleKeyboard()
{
    HWND keyboard = m_softKeyboard.Window();
    if (keyboard) ShowWindow(keyboard, IsWindowVisible(keyboard) ? SW_HIDE : SW_SHOW);
}

void CPINInputDlg::OnPaint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    RECT client;
    GetClientRect(m_hWnd, &client);
    FillRect(dc, &client, m_hBodyBrush);
    m_background.Draw(dc, client);

    // Our background image leaves its title band empty for the title in
    // the user's language.
    RECT title = client;
    title.bottom = client.top + (client.bottom - client.top) * kTitleBandHeight / kBackgroundHeight;
    title.left += 12;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kTitleColour);
    DrawTextW(dc, m_pMessageTable->texts[MSG_VERIFY_PIN], -1, &title, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
    EndPaint(m_hWnd, &paint);
}

void CPINInputDlg::OnDrawItem(const DRAWITEMSTRUCT* item)
{
    bool isOk = item->CtlID == IDOK;
    bool disabled = (item->itemState & ODS_DISABLED) != 0;
    // The face stays the colour its image was composed on; a disabled
    // button shows by its dimmed text.
    HBRUSH brush = CreateSolidBrush(isOk ? kOkFace : kCancelFace);
    FillRect(item->hDC, &item->rcItem, brush);
    DeleteObject(brush);

    // The image control covers the left of the button; the text keeps
    // to its right.
    RECT image = {};
    GetWindowRect(GetDlgItem(m_hWnd, isOk ? IDC_PIN_OK_IMAGE : IDC_PIN_CANCEL_IMAGE), &image);
    RECT text = item->rcItem;
    text.left += image.right - image.left;
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, disabled ? RGB(150, 165, 190) : isOk ? RGB(255, 255, 255) : RGB(30, 40, 60));
    wchar_t caption[32] = {};
    GetWindowTextW(item->hwndItem, caption, 32);
    DrawTextW(item->hDC, caption, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (item->itemState & ODS_FOCUS) {
        RECT focus = item->rcItem;
        InflateRect(&focus, -2, -2);
        DrawFocusRect(item->hDC, &focus);
    }
}
