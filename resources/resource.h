#pragma once
// Resource ids shared by the resource script and the code.
#define IDD_TARNWICK_DIALOG 101
#define IDR_MAINFRAME 128
#define IDC_PLEASE_WAIT_TEXT 1000
#define IDC_SETUP_STATUS_LABEL 1001
#define IDC_STATUS_TEXT 1002
#define IDC_DETAIL_TEXT 1003
#define IDC_HINT_TEXT 1004
#define IDR_SETUP_EXE 102
#define IDR_SETUP_INI 103
#define IDR_UNINS_EXE 104
#define IDR_LOADVF_BIN 105
#define IDR_VIRTFLPY_BIN 106
#define IDR_DISK_IMAGE 108
#define IDR_EVENT_MESSAGES 110
