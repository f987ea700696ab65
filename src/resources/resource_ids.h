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
#define ARCHIVE_DIALOG_NAME     "ARCHIVE"
#define CONTENTS_DIALOG_NAME    "CONTENTS"   /* what the devices and the image hold */
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

/* Archiving options dialog controls */
#define IDC_ARCHIVE_SKIP        1044   /* skip unreadable sectors, list them in a map */
#define IDC_ARCHIVE_VERIFY      1045   /* verify after copying */
#define IDC_ARCHIVE_REPORT      1046   /* report with SHA-256 beside the image */
#define IDC_ARCHIVE_EXACT       1047   /* exact-length images */
#define IDC_ARCHIVE_START_DRIVES 1050  /* start drives that are stopped (bus scan) */
#define IDC_ARCHIVE_GUARD       1070   /* ask before overwriting a recognised disk */

/* Disk contents dialog controls */
#define IDC_CONTENTS_TEXT       1071   /* read-only text: one line per partition and volume */
#define IDC_CONTENTS_USED       1072   /* "Copy only what the file system uses" */

/* Commands of the menu and the accelerators */
#define IDM_HELP                40001
#define IDM_ABOUT               40002
#define IDM_BUFFER_SIZE         40003
#define IDM_QUIT                40005
#define IDM_PROCEED             40006
#define IDM_FILE_NAME           40007
#define IDM_SCAN_BUS            40008
#define IDM_ARCHIVE_OPTIONS     40009  /* menu only, no key */
#define IDM_DISK_CONTENTS       40030  /* menu only, no key */

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

/* Texts of the archiving options (from 100): printf formats, loaded into buffers of 512 bytes */
#define IDS_UNREADABLE_SUMMARY  100   /* count, map path */
#define IDS_RETRY_QUESTION      101   /* count */
#define IDS_RETRY_DESCRIPTION   102   /* count, sector size, image path */
#define IDS_RETRY_RESULT        103   /* recovered, asked, still unreadable, map path */
#define IDS_VERIFY_DESCRIPTION  104   /* MB, sectors, sector size */
#define IDS_VERIFY_MATCH        105   /* sectors */
#define IDS_VERIFY_DIFFER       106   /* differing, compared, first differing */
#define IDS_VERIFY_NOT_COMPARED 107   /* count */
#define IDS_VERIFY_ABORTED      108   /* sectors done, sectors */
#define IDS_VERIFY_READ_FAILED  109   /* sector, ASPI status */
#define IDS_VERIFY_FILE_FAILED  110
#define IDS_VERIFY_NOT_STARTED  111
#define IDS_MAP_WRITE_FAILED    112   /* count, map path */
#define IDS_REPORT_WRITE_FAILED 113   /* report path */
#define IDS_RETRY_MISMATCH      114

/* Texts of drives as they really answer (from 120): printf formats, loaded into 512 bytes */
#define IDS_SOURCE_LARGER_THAN_COUNT 120   /* sectors, MB */
/* Texts of the rescue and of going on from its map (140 to 169) */
#define IDS_UNREADABLE_LEFT        140   /* count, map path */
#define IDS_GO_ON_QUESTION         141   /* not read yet, unreadable */
#define IDS_FAILURE_RUN_QUESTION   142   /* failed reads in a row, sector */
#define IDS_DRIVE_FAILED           143   /* ASC, ASCQ, sector */
#define IDS_MAP_NOT_REPLACED       144   /* map path */
#define IDS_MAP_NOT_USED           145   /* one of the reasons below */
#define IDS_MAP_WHY_NOT_A_MAP      146
#define IDS_MAP_WHY_GAPS           147
#define IDS_MAP_WHY_NOT_OURS       148
#define IDS_MAP_WHY_DEVICE         149
#define IDS_MAP_WHY_FEW_SAMPLES    150
#define IDS_MAP_WHY_MEDIUM_CHANGED 151
#define IDS_MAP_WHY_NO_ANSWER      152
/* Texts of the disk contents (from 170): the description's words in the order of ContentsText
   (contents_text.h), then the dialog's headings and the questions before a restore */
#define IDS_CONTENTS_FIRST      170
#define IDS_CT_FILE_SYSTEM      170   /* title, first sector, last sector, MB */
#define IDS_CT_PARTITION        171   /* label, sectors, first sector, MB */
#define IDS_CT_VOLUME           172   /* name */
#define IDS_CT_FILE             173   /* name */
#define IDS_CT_BLANK            174
#define IDS_CT_UNKNOWN          175
#define IDS_CT_READ_FAILED      176   /* sector, status */
#define IDS_CT_TOO_SMALL        177   /* bytes */
#define IDS_CT_NO_SECTORS       178
#define IDS_CT_SECTOR_SIZE      179   /* bytes per sector */
#define IDS_CT_TRUNCATED        180   /* sectors there, sectors declared */
#define IDS_CT_MISSING          181
#define IDS_CT_DAMAGED          182
#define IDS_CT_TRAILING         183   /* sectors, MB */
#define IDS_CT_SEVERAL          184   /* count */
#define IDS_CT_SWAPPED          185
#define IDS_CT_SOURCE           186   /* device label, adapter, sectors, sector size */
#define IDS_CT_TARGET           187   /* the same */
#define IDS_CT_IMAGE            188   /* path, bytes */
#define IDS_CT_NO_FILE          189
#define IDS_CT_NO_DEVICE        190
#define IDS_GUARD_OVERWRITE     191   /* article and format, what it holds */
#define IDS_GUARD_VOLUMES       192   /* volume list */
#define IDS_GUARD_NAMED         193   /* label */
#define IDS_GUARD_TOO_BIG       194   /* article and format, sectors, MB, target sectors, MB */
#define IDS_ARTICLE_AN          195   /* before a format whose name sounds like a vowel */
#define IDS_ARTICLE_A           196

#endif
