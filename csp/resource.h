// Resource identifiers of KeltoCSP's own templates.
#pragma once

#define IDD_SELECT_DEVICE 106

#define IDC_DEVICE_LIST 1004
#define IDC_DEVICE_SERIAL 1005
#define IDC_DEVICE_LIST_LABEL 1007
#define IDC_DEVICE_SERIAL_LABEL 1008
