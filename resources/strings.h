/* Ids and texts of the program's resources. The Windows resource script and the POSIX string
 * table both take their entries from here, so the two platforms never drift apart. */
#ifndef GATEWAYCONTROL_STRINGS_H
#define GATEWAYCONTROL_STRINGS_H

/* String table: program title, company string, service key name, main-window class. */
#define IDS_APP_TITLE 7
#define IDS_COMPANY 8
#define IDS_SERVICE_NAME 9
#define IDS_MAIN_WINDOW_CLASS 10

#define STR_APP_TITLE "KELVARO Quendra - x64"
#define STR_COMPANY "Ombrelin"
#define STR_SERVICE_NAME "KELVARO Gateway V3"
#define STR_MAIN_WINDOW_CLASS "GATEWAYCONTROL_MAINWND"

/* The second-instance warning and the tray symbol it shows. */
#define IDD_SECOND_INSTANCE 107
#define IDI_TRAY_SYMBOL 108
#define IDC_TRAY_SYMBOL 1002

#endif
