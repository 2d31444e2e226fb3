#include "SelectDevDlg.h"

#include "ModuleHandle.h"
#include "TokenAccess.h"
#include "resource.h"

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr BYTE kDialogAlpha = 252;
constexpr DWORD kErrorCancelled = 1223;

// The token's ANSI text, cut to the room of the field when it is longer.
void AnsiToField(const char* text, wchar_t* field, int room)
{
    int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0) {
        field[0] = L'\0';
        return;
    }
    std::vector<wchar_t> wide(static_cast<std::size_t>(needed));
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed);
    lstrcpynW(field, wide.data(), room);
}

void CenterOnScreen(HWND window)
{
    RECT area = {}, box = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window, &box);
    int width = box.right - box.left, height = box.bottom - box.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

CSelectDevDlg::CSelectDevDlg(ChooserDevice* devices) : m_devices(devices)
{
}

INT_PTR CSelectDevDlg::DoModal(HWND owner)
{
    return DialogBoxParamW(CspModuleHandle(), MAKEINTRESOURCEW(IDD_SELECT_DEVICE), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CSelectDevDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CSelectDevDlg*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        dialog->OnInitDialog();
        return TRUE;
    }
    auto* dialog = reinterpret_cast<CSelectDevDlg*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    switch (message) {
    case WM_COMMAND:
        dialog->OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        EndDialog(window, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

void CSelectDevDlg::OnInitDialog()
{
    CenterOnScreen(m_hWnd);
    m_messages = GetMessageTable();
    const wchar_t* const* texts = m_messages->texts;
    SetWindowTextW(m_hWnd, texts[MSG_SELECT_DIALOG]);
    SetDlgItemTextW(m_hWnd, IDOK, texts[MSG_OK]);
    SetDlgItemTextW(m_hWnd, IDCANCEL, texts[MSG_CANCEL]);
    SetDlgItemTextW(m_hWnd, IDC_DEVICE_LIST_LABEL, texts[MSG_SELECT_UKEY]);
    SetDlgItemTextW(m_hWnd, IDC_DEVICE_SERIAL_LABEL, texts[MSG_UKEY_SN]);

    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_hWnd, 0, kDialogAlpha, LWA_ALPHA);

    m_hCombo = GetDlgItem(m_hWnd, IDC_DEVICE_LIST);
    m_hSerial = GetDlgItem(m_hWnd, IDC_DEVICE_SERIAL);
    FillDeviceList();
    for (unsigned i = 0; i < m_count; ++i)
        SendMessageW(m_hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(m_devices[i].label));
    if (m_count > 0) {
        SendMessageW(m_hCombo, CB_SETCURSEL, 0, 0);
        m_selected = 0;
        ShowSerial();
    }
}

void CSelectDevDlg::FillDeviceList()
{
    m_count = 0;
    std::vector<std::array<char, devicelib::UK_NAME_LEN>> names;
    if (!Token_EnumTokens(kMaxChooserDevices, names)) return;
    for (std::size_t i = 0; i < names.size() && m_count < kMaxChooserDevices; ++i) {
        char label[kLabelRoom] = {}, serial[kLabelRoom] = {};
        if (Token_GetLabelAndSerial(names[i].data(), label, serial) != 0) continue;
        ChooserDevice& device = m_devices[m_count++];
        std::memcpy(device.deviceName, names[i].data(), devicelib::UK_NAME_LEN);
        AnsiToField(label, device.label, kChooserTextRoom);
        AnsiToField(serial, device.serial, kChooserTextRoom);
    }
}

// False when nothing in the list is selected (an empty list, or a typed
// text that matches no item).
bool CSelectDevDlg::TakeComboSelection()
{
    LRESULT index = SendMessageW(m_hCombo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR || index < 0 || static_cast<unsigned>(index) >= m_count) return false;
    m_selected = static_cast<std::uint32_t>(index);
    return true;
}

void CSelectDevDlg::ShowSerial()
{
    SetWindowTextW(m_hSerial, m_devices[m_selected].serial);
}

void CSelectDevDlg::OnCommand(WORD id, WORD code)
{
    if (id == IDC_DEVICE_LIST && code == CBN_SELENDOK) {
        if (TakeComboSelection()) ShowSerial();
    } else if (id == IDOK) {
        EndDialog(m_hWnd, TakeComboSelection() ? IDOK : IDCANCEL);
    } else if (id == IDCANCEL) {
        EndDialog(m_hWnd, IDCANCEL);
    }
}

DWORD ChooseTokenDevice(char* deviceName)
{
    auto devices = std::make_unique<ChooserDevice[]>(kMaxChooserDevices);
    CSelectDevDlg dialog(devices.get());
    if (dialog.DoModal(nullptr) != IDOK) return kErrorCancelled;
    std::memcpy(deviceName, devices[dialog.SelectedIndex()].deviceName, devicelib::UK_NAME_LEN);
    return 0;
}
