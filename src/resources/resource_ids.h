/*
 * Identifiers shared by the resource scripts and the program: templates, controls, commands, strings.
 * Plain #defines only: windres reads this file too.
 */
#ifndef KESTROVA_RESOURCE_IDS_H
#define KESTROVA_RESOURCE_IDS_H

/* Template and resource names */
#define MAIN_FORM_NAME          "KESTROVA"   /* main form template, window class and icon */
#define PROGRESS_BOX_NAME       "PROCEEDBOX"
#define BUFFER_DIALOG_NAME      "BUFFER"
#define ABOUT_BOX_NAME          "ABOUTBOX"
#define IDM_MAIN_MENU           120
#define IDA_MAIN_ACCELERATORS   123
#define IDV_VERSION             1

/* Controls without an id of their own (frames, fixed labels, the About box icon) */
#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif

/* Buttons shared by the boxes */
#define IDC_OK                  1
#define IDC_CANCEL              2
#define IDC_ABORT               3

/* Main form controls (1005-1037) */
#define IDC_MAIN_PATH           1005   /* image path field */
#define IDC_MAIN_SIZE           1007   /* number of sectors, digits only */
#define IDC_MAIN_SELECT_ALL     1008   /* "Sel. All Sectors" check box */
#define IDC_MAIN_SOURCE_INFO    1009
#define IDC_MAIN_TARGET_INFO    1010
#define IDC_MAIN_SOURCE_ADAPTER 1015
#define IDC_MAIN_TARGET_ADAPTER 1016
#define IDC_MAIN_SOURCE_DEVICE  1017
#define IDC_MAIN_BROWSE         1018
#define IDC_MAIN_PROCEED        1019
#define IDC_MAIN_RESCAN         1020
#define IDC_MAIN_ABOUT          1021
#define IDC_MAIN_HELP           1022
#define IDC_MAIN_TARGET_DEVICE  1023
#define IDC_MAIN_QUIT           1024
#define IDC_MAIN_MEGABYTES      1026   /* size in MB label */
#define IDC_MAIN_DISK_TO_FILE   1033
#define IDC_MAIN_FILE_TO_DISK   1034
#define IDC_MAIN_DISK_TO_DISK   1035
#define IDC_MAIN_TITLE          1037

/* Progress box controls */
#define IDC_PROGRESS_TEXT       1028
#define IDC_PROGRESS_PERCENT    1029
#define IDC_PROGRESS_BAR        1030

/* About box controls */
#define IDC_ABOUT_VERSION       1038
#define IDC_ABOUT_BUFFER        1040

/* Buffer-size dialog controls */
#define IDC_BUFFER_LIST         1042
#define IDC_BUFFER_LABEL        1043

/* Commands of the menu and the accelerators */
#define IDM_HELP                40001
#define IDM_ABOUT               40002
#define IDM_BUFFER_SIZE         40003
#define IDM_QUIT                40005
#define IDM_PROCEED             40006
#define IDM_FILE_NAME           40007
#define IDM_SCAN_BUS            40008

/* String table */
#define IDS_TITLE               1    /* "Kestrova V1.31" */
#define IDS_REGISTRY_KEY        4
#define IDS_REGISTRY_VALUE      5    /* value name, differs per language */
#define IDS_REGISTRY_OPEN_FAIL  7
#define IDS_REGISTRY_SAVE_FAIL  8
#define IDS_DEVICE_CAPACITY     9    /* "Capacity: %5.1f MBytes\n%d sect. (%d B/sect.)\n" */
#define IDS_DEVICE_REMOVABLE    10
#define IDS_TYPE_DISK           11
#define IDS_TYPE_TAPE           12
/* there is no string 13 */
#define IDS_TYPE_PRINTER        14
#define IDS_TYPE_PROCESSOR      15
#define IDS_TYPE_WORM           16
#define IDS_TYPE_CDROM          17
#define IDS_TYPE_SCANNER        18
#define IDS_TYPE_OPTICAL        19
#define IDS_TYPE_CHANGER        20
#define IDS_TYPE_COMM           21
#define IDS_TYPE_RESERVED_LOW   22
#define IDS_TYPE_RESERVED_HIGH  23
#define IDS_TYPE_UNKNOWN        24

#endif
