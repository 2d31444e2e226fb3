// The soft keyboard: the 36 digits and letters on buttons in a random
// order, typing into the PIN dialog's target edit.
#pragma once

#include <windows.h>

constexpr int kSoftKeyCount = 36;

// Fills permutation with 0 to 35 in the order the C runtime's generator,
// seeded with seed, draws them.
void ShuffleSoftKeys(unsigned seed, int permutation[kSoftKeyCount]);

class CSoftKBDlg {
public:
    // targetEdit: the owning dialog's field naming the edit to type into.
    explicit CSoftKBDlg(HWND* targetEdit) : m_pTargetEdit(targetEdit) { }
    ~CSoftKBDlg();
    CSoftKBDlg(const CSoftKBDlg&) = delete;
    CSoftKBDlg& operator=(const CSoftKBDlg&) = delete;

    // Modeless and hidden.
    bool Create(HWND owner);
    void Destroy();
    HWND Window() const { return m_hWnd; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void LabelKeys();
    void OnCommand(WORD id);

    HWND m_hWnd = nullptr;
    HWND* m_pTargetEdit;
    int m_upperCase = 0;
    HFONT m_hFont = nullptr;
    int m_permutation[kSoftKeyCount] = {};
};
