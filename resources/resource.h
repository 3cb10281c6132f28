// Resource ids shared by the resource script and the code. The bitmaps are
// named MAP1 to MAP11 and have no numeric ids.
#ifndef VELLOMIRE_RESOURCE_H
#define VELLOMIRE_RESOURCE_H

// Strings.
#define IDS_FILE_NAME 1001     // settings file name
#define IDS_DESCRIPTION 1002   // the saver's descriptive name
#define IDS_SECTION_NAME 1007  // settings section name

// The configuration dialog and its addressed controls.
#define IDD_CONFIG 2003
#define IDC_SECONDS 1008  // seconds field
#define IDC_PAINT 1009    // "Slowly paint pictures" check box

#endif
