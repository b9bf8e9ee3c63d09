// Identifiers of the application's resources, shared by the resource script
// and the code.
#pragma once

#define IDI_TAVRIN 1
#define IDM_MAIN 1
#define IDA_MAIN 1
#define IDD_ABOUT 1

#define IDC_ABOUT_TITLE 1001
#define IDC_ABOUT_NOTICE 1002
#define IDC_ABOUT_ICON 1003

#define IDM_FILE_NEW 40001
#define IDM_FILE_OPEN 40002
#define IDM_FILE_SAVE 40003
#define IDM_FILE_SAVE_AS 40004
#define IDM_FILE_EXIT 40005
#define IDM_HELP_ABOUT 40006
#define IDM_FILE_FIT 40007
