// Runs a UI driver program beside the test program and collects what it
// saw.
#pragma once

#include "DesktopInput.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

struct DriverRun {
    DWORD exitCode = 1;
    std::vector<std::string> messages; // texts of the message boxes answered, UTF-8
    std::string output;
};

class CUiDriver {
public:
    // program: the driver's file name, beside the test program.
    explicit CUiDriver(const wchar_t* program) : m_program(program) { }
    // steps: the driver's steps; it looks only at this process's windows.
    bool Start(const std::wstring& steps);
    DriverRun Finish(DWORD timeoutMs = 60000);
    // Once the driver has ended, closes whatever windows the given thread
    // still shows, so that a driver that lost its way fails the test
    // instead of leaving a modal prompt up for ever. Ends with Finish.
    void GuardThreadWindows(DWORD threadId);
    ~CUiDriver();

private:
    std::wstring m_program;
    HANDLE m_process = nullptr;
    HANDLE m_output = nullptr;
    std::string m_collected;
    HANDLE m_reader = nullptr;
    HANDLE m_guard = nullptr;
    DWORD m_guardedThread = 0;
    HANDLE m_finished = nullptr; // set by Finish, ends the guard's waits
    void EndGuard();
    static DWORD WINAPI ReadOutput(LPVOID self);
    static DWORD WINAPI Guard(LPVOID self);
};

// Where a test leaves its screenshots: the folder "screens" beside the
// test program, made on first use.
std::wstring ScreenshotPath(const wchar_t* name);

// True when the display has windows to show (an X server under Wine).
bool HaveDisplay();
// True under scripts/test.sh, which always provides a display.
bool DisplayRequired();

// First in a window test: without a display the test is skipped when a
// person runs the program by hand, and fails in the full test run.
#define SKIP_OR_FAIL_WITHOUT_DISPLAY()                                                                                 \
    do {                                                                                                               \
        if (HaveDisplay()) break;                                                                                      \
        if (DisplayRequired()) FAIL() << "no display, though the test run gave one";                                   \
        GTEST_SKIP() << "no display for the windows";                                                                  \
    } while (0)

// Pixels of a 24-bit BMP file that have exactly this colour.
long CountPixels(const std::wstring& path, COLORREF colour);
