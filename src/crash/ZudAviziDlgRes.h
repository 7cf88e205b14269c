// Resource identifiers of the error dialog template.
#pragma once
#define IDD_EXCEPTION_DIALOG 2000
#define IDC_EXC_OK 1000
#define IDC_EXC_DETAILS 1001
#define IDC_EXC_TERMINATE 1002
#define IDC_EXC_MESSAGE 2000
#define IDC_EXC_CALLSTACK 3000
#define IDC_EXC_REGISTERS 4000
#define IDC_EXC_CUSTOMINFO 5000
#define IDC_EXC_TABS 8000
#define IDC_EXC_ICON 9000
