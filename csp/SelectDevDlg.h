// The dialog that lets the user pick one of several present tokens.
#pragma once

#include "MessageTable.h"
#include "DeviceTable.h"

#include <windows.h>

#include <cstdint>

constexpr unsigned kMaxChooserDevices = 8;
constexpr unsigned kChooserTextRoom = 64;

struct ChooserDevice {
    char deviceName[devicelib::UK_NAME_LEN];
    wchar_t label[kChooserTextRoom];
    wchar_t serial[kChooserTextRoom];
};

class CSelectDevDlg {
public:
    // devices: kMaxChooserDevices entries, owned by the caller.
    explicit CSelectDevDlg(ChooserDevice* devices);

    // IDOK with a valid SelectedIndex(), else IDCANCEL.
    INT_PTR DoModal(HWND owner);
    std::uint32_t SelectedIndex() const { return m_selected; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(WORD id, WORD code);
    void FillDeviceList();
    bool TakeComboSelection();
    void ShowSerial();

    HWND m_hWnd = nullptr;
    ChooserDevice* m_devices;
    unsigned m_count = 0;
    std::uint32_t m_selected = 0;
    HWND m_hCombo = nullptr;
    HWND m_hSerial = nullptr;
    const MessageTable* m_messages = nullptr;
};
