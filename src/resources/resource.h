// Resource identifiers shared by the .rc script and the code. Numeric only, so both windres
// and rc.exe read it.
#pragma once

#define IDB_STATUS_STRIP 200

#define IDD_CAPTURE_STATUS 111
#define IDC_STATUS_PICTURE 1490
#define IDC_STATUS_TEETH 1491
#define IDC_STATUS_LIST 1492
#define IDC_STATUS_TIMER 1493

#define IDD_SWITCH_SENSOR 113
#define IDC_SWITCH_LIST 1495
#define IDC_SWITCH_REFRESH 1496
