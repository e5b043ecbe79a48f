// Control and command ids of Kelvad's windows. The OK and Cancel buttons use
// wxWidgets' own wxID_OK and wxID_CANCEL so that Enter and Escape work.
#pragma once

enum : int {
    IDC_ACTION_LIST = 1000,  // the preview's list
    IDC_MASTER_DIR = 1002,
    IDC_SLAVE_DIR = 1003,
    IDC_JUST_DO_IT = 1005,  // first button of the run-mode group
    IDC_PREVIEW = 1006,
    IDC_NO_MODE = 1007,  // hidden: selected when neither mode is
    IDC_STATUS = 1008,
    IDC_SCANNING = 1009,  // the main dialog's line shown while the trees are scanned
    IDC_PROGRESS = 1010,
    IDC_KEEP_VERSIONS = 1011,  // the main dialog's "Keep deleted and replaced files"
    IDC_MASTER_BROWSE = 1012,  // the "..." beside the master field
    IDC_SLAVE_BROWSE = 1013,   // the "..." beside the slave field
    IDM_ABOUTBOX = 0x0010,     // the About item of the main dialog's menu
};

// Dialog templates, by number.
enum : int {
    IDD_ABOUTBOX = 100,
    IDD_KELVAD_DIALOG = 102,
    IDD_ACTION_LIST = 129,
    IDD_PROGRESS = 130,
};
