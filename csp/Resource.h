// Resource ids of KeltoCSP's dialog templates and images.
#pragma once

#define IDD_PIN_INPUT 101
#define IDD_PIN_SHADE 226

#define IDC_PIN_EDIT 1001
#define IDC_PIN_PROMPT 1009
#define IDC_PIN_OK_IMAGE 1012
#define IDC_PIN_CANCEL_IMAGE 1013

#define IDB_PIN_BACKGROUND 108
#define IDB_PIN_OK 111
#define IDB_PIN_CANCEL 112

// Images are PNG files under their own resource type.
#define RT_PNG_IMAGE "PNG"
