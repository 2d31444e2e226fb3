// No C++ exception may reach the browser: its frames cannot be unwound
// from ours. Every export and every function the browser calls through a
// table runs its body through BrowserBoundary, which answers the given
// failure when the body throws (std::bad_alloc from a container, say).
#pragma once

#include "TraceHelper.h"

template <typename Result, typename Body>
Result BrowserBoundary(Result failure, Body body) noexcept
{
    try {
        return body();
    } catch (...) {
        TraceErrorReport(L"BrowserBoundary", L"Exception stopped before the browser.");
        return failure;
    }
}

template <typename Body>
void BrowserBoundary(Body body) noexcept
{
    try {
        body();
    } catch (...) {
        TraceErrorReport(L"BrowserBoundary", L"Exception stopped before the browser.");
    }
}
