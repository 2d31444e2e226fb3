// The PIN dialog: a masked edit, OK and Cancel, drawn over its own
// background image. It only collects the PIN; the shade verifies it.
#pragma once

#include "MessageTable.h"
#include "PngImage.h"
#include "SafeEdit.h"
#include "SoftKeyboard.h"
#include "TokenSession.h"

#include <windows.h>

#include <cstdint>

constexpr unsigned kMinPinLength = 6;
constexpr unsigned kMaxPinChars = 16;

class CPINInputDlg {
public:
    CPINInputDlg() : m_safeEdit(&m_hTargetEdit), m_softKeyboard(&m_hTargetEdit) { }
    ~CPINInputDlg();
    CPINInputDlg(const CPINInputDlg&) = delete;
    CPINInputDlg& operator=(const CPINInputDlg&) = delete;

    // IDOK with the PIN in Pin()/PinLength(), IDCANCEL, or -1 when the
    // dialog could not be created.
    INT_PTR DoModal(HWND owner);
    const std::uint8_t* Pin() const { return m_pin; }
    std::uint32_t PinLength() const { return m_pinLength; }
    void WipePin();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnEditChange();
    void OnOk();
    void OnCancel();
    void OnToggleKeyboard();
    void SetUpToggle();
    // Takes the PIN from the secure edit; false when it is too short.
    bool TakePin();
    void OnPaint();
    void OnDrawItem(const DRAWITEMSTRUCT* item);
    void ShowImage(int controlId, const CPngImage& image, COLORREF background, HBITMAP* bitmap);

    HWND m_hWnd = nullptr;
    HWND m_hEdit = nullptr;
    HWND m_hOkButton = nullptr;
    HWND m_hTargetEdit = nullptr; // where the soft keyboard types
    CMySafeEdit m_safeEdit;
    CSoftKBDlg m_softKeyboard;
    const MessageTable* m_pMessageTable = nullptr;
    CGdiPlusSession m_gdiPlus;
    CPngImage m_background;
    CPngImage m_okImage;
    CPngImage m_cancelImage;
    HBITMAP m_hOkBitmap = nullptr;
    HBITMAP m_hCancelBitmap = nullptr;
    CPngImage m_toggleImage;
    HBITMAP m_hToggleBitmap = nullptr;
    HWND m_hToolTip = nullptr;
    HBRUSH m_hBodyBrush = nullptr;
    std::uint8_t m_pin[kTokenPinRoom] = {};
    std::uint32_t m_pinLength = 0;
};
