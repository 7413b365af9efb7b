#pragma once

// Resource and control ids of Calyx.exe, shared by the .rc script and the
// code (make_dialogs.py writes the same control ids into the templates).
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_CALYX_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_SAMPLE_RATE 1000
#define IDC_FREQUENCY 1001
#define IDC_ATTENUATION 1002
#define IDC_DURATION 1003
#define IDC_PATH 1004
#define IDC_PROGRESS 1005
#define IDC_BITS16 1007
#define IDC_BITS24 1008
#define IDC_BITS32 1009
// The labels of the four number fields, which name them in the dialog's reports.
#define IDC_SAMPLE_RATE_LABEL 1010
#define IDC_ATTENUATION_LABEL 1011
#define IDC_FREQUENCY_LABEL 1012
#define IDC_DURATION_LABEL 1013

// The system-menu command that opens the About box.
#define IDM_ABOUTBOX 0x0010
