#pragma once
// The numbers of the window's controls and commands. The resource script and the window use them,
// and so does the program that drives the window in the Wine tests: it finds each control by its
// number, as a user's eye finds it by its place.

// Resources (vespanode.rc).
#define VN_RESOURCE_MAIN_BANNER 101
#define VN_RESOURCE_ABOUT_BANNER 102

// The main window's controls.
#define VN_ID_CB_COM 1001
#define VN_ID_E_BAU 1002
#define VN_ID_CB_UPG 1003
#define VN_ID_SB_OPEN 1004
#define VN_ID_E_FILENAME 1005
#define VN_ID_SB_STA 1006
#define VN_ID_E_START 1007
#define VN_ID_PROGRESS 1008
#define VN_ID_SB_RESET 1009
#define VN_ID_SB_CLOSE1 1010
#define VN_ID_LABEL_COM 1011
#define VN_ID_LABEL_BAU 1012
#define VN_ID_LABEL_UPG 1013

// The context menu's entries.
#define VN_ID_MENU_ABOUT 1101
#define VN_ID_MENU_EXIT 1102

// The About window's controls.
#define VN_ID_ABOUT_OK 1201
#define VN_ID_ABOUT_LIST 1202
