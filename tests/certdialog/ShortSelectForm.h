// The short form of the selection dialog's parameters, as the tests fill it.
#pragma once

#include "CertificateDialogs.h"

inline CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT ShortSelectForm(DWORD dwShowAlways)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = {};
    st.dwForm = CUSTOM_CRYPTUI_FORM_SHORT;
    st.hInstance = GetModuleHandleW(nullptr);
    st.u.shortForm.dwShowAlways = dwShowAlways;
    return st;
}
