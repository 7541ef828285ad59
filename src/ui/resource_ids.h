// Control identifiers shared by the resource script and the dialog code.
#ifndef VANTREL_RESOURCE_IDS_H
#define VANTREL_RESOURCE_IDS_H

#define IDC_INSTALL 1
#define IDC_CLOSE 2
#define IDC_MAIN_TEXT 3002
#define IDC_MAIN_ICON 3003

#define IDC_AGREE 1
#define IDC_DECLINE 2
#define IDC_LICENCE_TEXT 2002
#define IDC_LICENCE_PROMPT 2004

#define IDC_PASSWORD_OK 1
#define IDC_PASSWORD_CANCEL 2
#define IDC_PASSWORD_EDIT 101

#endif
