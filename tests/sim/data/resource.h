/* Ids shared by the test scripts, in the form of the program's own header. */
#ifndef TEST_RESOURCE_H
#define TEST_RESOURCE_H

#define IDD_SETTINGS    2003
#define IDC_SECONDS     1008
#define IDC_PAINT       (IDC_SECONDS + 1)
#define IDS_FILE        1001
#define IDS_TITLE       1002
#define IDS_SECTION     1007

#endif
