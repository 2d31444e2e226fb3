// Resource identifiers of KeltoCSP's own templates.
#pragma once

#define IDD_SELECT_DEVICE 106
#define IDD_REMOVAL_WATCH 107

#define IDC_DEVICE_LIST 1004
#define IDC_DEVICE_SERIAL 1005
#define IDC_DEVICE_LIST_LABEL 1007
#define IDC_DEVICE_SERIAL_LABEL 1008

#define IDD_PIN_INPUT 101
#define IDD_PIN_SHADE 226

#define IDC_PIN_EDIT 1001
#define IDC_SOFT_KEYBOARD_TOGGLE 1003
#define IDC_PIN_PROMPT 1009
#define IDC_PIN_OK_IMAGE 1012
#define IDC_PIN_CANCEL_IMAGE 1013

// Images are PNG files under the resource type "PNG".
#define IDB_PIN_BACKGROUND 108
#define IDB_PIN_OK 111
#define IDB_PIN_CANCEL 112
#define IDB_SOFT_KEYBOARD 105

// The soft keyboard: 36 keys numbered from the first, then Shift and
// Backspace.
#define IDD_SOFT_KEYBOARD 209
#define IDC_SOFT_KEY_FIRST 1025
#define IDC_SOFT_SHIFT 1074
#define IDC_SOFT_BACKSPACE 1076
