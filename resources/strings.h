/* Ids and texts of the program's resources. The Windows resource script and the POSIX string
 * table both take their entries from here, so the two platforms never drift apart. Texts are C
 * string literals; the resource compiler reads the same escapes (\r, \n, \t, \"). */
#ifndef GATEWAYCONTROL_STRINGS_H
#define GATEWAYCONTROL_STRINGS_H

/* String table. */
#define IDS_EXIT_CONFIRM 1
#define IDS_APP_TITLE 7
#define IDS_COMPANY 8
#define IDS_SERVICE_NAME 9
#define IDS_MAIN_WINDOW_CLASS 10
#define IDS_EDGE_CONFIRM_CAPTION 12
#define IDS_EDGE_CONFIRM_TEXT 13
#define IDS_EDGE_MANUAL_CAPTION 14
#define IDS_EDGE_MANUAL_MIDDLE 15
#define IDS_EDGE_MANUAL_FIRST 17
#define IDS_EDGE_MANUAL_LAST 19

#define STR_EXIT_CONFIRM                                                                                     \
    "Exiting the Gateway Control does not shutdown the gateway, but only quits this control application. "   \
    "\nContinue?"
#define STR_APP_TITLE "KELVARO Quendra - x64"
#define STR_COMPANY "Ombrelin"
#define STR_SERVICE_NAME "KELVARO Gateway V3"
#define STR_MAIN_WINDOW_CLASS "GATEWAYCONTROL_MAINWND"
#define STR_EDGE_CONFIRM_CAPTION "Activate KELVARO Edge Gateway Configuration Mode?"
#define STR_EDGE_CONFIRM_TEXT                                                                                \
    "Confirm if you want to activate the configuration mode of the KELVARO Edge Gateway.\r\n\r\nWithin "     \
    "this mode a connection between the Edge Gateway and the Corvanet can be configured using the KELVARO "  \
    "Corvanet Connector.\r\n\r\nATTENTION: Use this mode only within a secure environment.\r\nNOTE: This "   \
    "mode will get deactivated after 30 min, if the gateway restarts or if the configuration has finished."
#define STR_EDGE_MANUAL_CAPTION "Failed to modify the \"Gateway.cfg\" file"
#define STR_EDGE_MANUAL_MIDDLE "working directory of the \"%s\" service"
#define STR_EDGE_MANUAL_FIRST                                                                                \
    "Please perform the following steps manually:\r\n\t1.Stop the \"%s\" service.\r\n\t2. Enter the "        \
    "following setting under the [CmpEdgeGateway] section in the \"Gateway.cfg\" file in the "
#define STR_EDGE_MANUAL_LAST                                                                                 \
    ":\r\n\t\t%s=1\r\n\t3. Restart the \"%s\" service.\r\n\r\nWithin this mode a connection between the "    \
    "Edge Gateway and the Corvanet can be configured using the KELVARO Corvanet Connector.\r\nATTENTION: "   \
    "Use this mode only within a secure environment.\r\nNOTE: This mode will get deactivated after 30 "      \
    "min, if the gateway restarts, or if the configuration has finished."

/* Icons: the gateway running and stopped (the tray icon), and the plain tray symbol that the
 * second-instance warning points at. */
#define IDI_RUNNING 101
#define IDI_STOPPED 105
#define IDI_TRAY_SYMBOL 108

/* The tray menu: one pop-up with these commands, separators between the groups. */
#define IDR_TRAY_MENU 102
#define IDM_START 40001
#define IDM_STOP 40002
#define IDM_ABOUT 40003
#define IDM_EXIT 40004
#define IDM_EDGE 40007
#define STR_MENU_START "Start Gateway"
#define STR_MENU_STOP "Stop Gateway"
#define STR_MENU_EDGE "Allow Edge Gateway configuration..."
#define STR_MENU_EXIT "Exit Gateway Control"
#define STR_MENU_ABOUT "About..."

/* The About dialog: the picture, and below it a strip that names the installed gateway. The
 * picture fills its 200 x 209 dialog units at the dialog font's usual base units (6 x 13 pixels
 * for 4 x 8 units), so its pixel size is fixed here and drawn to it. */
#define IDD_ABOUT 103
#define IDB_ABOUT 104
#define IDC_ABOUT_PICTURE 1000
#define ABOUT_PICTURE_WIDTH 300
#define ABOUT_PICTURE_HEIGHT 340

/* The second-instance warning and the tray symbol it shows. */
#define IDD_SECOND_INSTANCE 107
#define IDC_TRAY_SYMBOL 1002
#define STR_SECOND_INSTANCE_CAPTION "Warning: Gateway Control"
#define STR_SECOND_INSTANCE_TEXT                                                                             \
    "Another instance of the gateway control application is already running. Please check for the "          \
    "following symbol in your taskbars status area:"

#endif
