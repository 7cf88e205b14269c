// Control identifiers of the proxy dialog, shared by its template and code.
#pragma once

#define IDD_ONLINEUPDATESETUP 2100
#define IDC_LBLHTTPPROXY 2101
#define IDC_EDITPROXY 2102
#define IDC_LBLPORT 2103
#define IDC_EDITPORT 2104
#define IDC_LBLUSERNAME 2105
#define IDC_EDITUSERNAME 2106
#define IDC_LABEL2 2107
#define IDC_EDITPASSWORD 2108
#define IDC_LBLSTATUS 2109
