// The secure PIN edit: while it has the focus, a low-level keyboard hook
// keeps the typed characters in a hidden buffer and types mask characters
// into the control; mouse selection, cut and paste are disabled.
#pragma once

#include "HiddenText.h"

#include <windows.h>

#include <cstdint>

// A character from the soft keyboard: wParam's low byte (8: backspace).
constexpr UINT WM_SOFT_KEY_CHAR = 0x523;

class CMySafeEdit {
public:
    // targetEdit: the owning dialog's field that names the edit the soft
    // keyboard types into; set when this edit gets the focus.
    explicit CMySafeEdit(HWND* targetEdit) : m_pTargetEdit(targetEdit) { }
    ~CMySafeEdit();
    CMySafeEdit(const CMySafeEdit&) = delete;
    CMySafeEdit& operator=(const CMySafeEdit&) = delete;

    bool SubclassWindow(HWND edit);
    const std::uint8_t* HiddenBytes() const { return m_hidden.text; }
    std::uint32_t HiddenCount() const { return m_hidden.count; }

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnSetFocus();
    void RemoveHooks();
    void Unsubclass();
    void OnSoftKey(char character);
    LRESULT OnForeignChar(WPARAM character);

    HiddenText m_hidden = {};
    HWND* m_pTargetEdit;
};
