/* The tray: the hidden main window, the notification-area icon that shows whether the gateway
 * service runs, its menu, the About dialog and the status poll on the window's timer. One tray
 * per process; it reaches the desktop through desktop.h and the gateway through the
 * service-control channel. */
#ifndef TRAY_H
#define TRAY_H

#include "entry.h"
#include "rts_types.h"

RTS_BEGIN_C

/* Takes the menu commands the tray does not handle itself (0 when the menu was dismissed);
 * what it returns is the window procedure's result. */
typedef RTS_INTPTR (*FurtherCommandHandler)(RTS_UI32 command);

/* Installs handler in the one slot; 1, or 0 (slot unchanged) for a null handler. */
int SetFurtherCommandHandler(FurtherCommandHandler handler);
/* Empties the slot when it holds exactly handler (1), else leaves it (0). */
int ClearFurtherCommandHandler(FurtherCommandHandler handler);

/* Adds (0) or modifies (1) the icon with the look of the last poll: icon and tooltip of the
 * running or the stopped gateway. Returns 1 when the desktop took it, else 0. */
int UpdateTrayIcon(RTS_UI32 action);
/* Hands the icon record to the desktop with action add (0), modify (1) or delete (2): the
 * tray's icon id and callback message, the flags given plus the callback flag, the icon
 * resource iconId when the icon flag is given, tooltip (at most 128 characters of it) when the
 * tip flag is given. Returns 1 when the desktop took it, else 0. */
int SetTrayIcon(RTS_UI32 action, RTS_UI32 flags, RTS_UI32 iconId, const char* tooltip);

/* 1 exactly when a query of the configured service answers 0 with the state running. */
int IsGatewayRunning(void);
/* Queries the gateway and, when the icon shows another state, changes it; a change the
 * desktop refused is tried again on the next poll. */
void PollGatewayState(void);

RTS_END_C

namespace tray {

constexpr RTS_UI32 kIconId = 3333;
constexpr RTS_UI32 kCallbackMessage = 2149;
constexpr RTS_UI32 kTimerId = 101;
constexpr RTS_UI32 kTimerPeriodMs = 100;

enum class Start { Ready, SecondInstance, NoWindow };

/* Opens the tray's main window for instance with the program strings (kept by the caller for
 * the program's lifetime). When another instance runs it shows the second-instance warning and
 * answers SecondInstance; when the window cannot be created it says so in a box and answers
 * NoWindow. */
Start open_main_window(RTS_HANDLE instance, const entry::ProgramStrings& strings);

/* Runs the tray on the open main window: edge-mode command handler, icon, first poll, timer,
 * message loop until the window is closed, handler removed again. */
void run();

/* Removes the icon from the notification area. */
void remove_icon();

/* The calls the tray makes outside the desktop: the service-control request and the
 * communication cycle of the framework. Tests put fakes in place (null restores the real ones). */
struct Ops {
    RTS_RESULT (*request)(RTS_UI32 command, const char* serviceName, RTS_UI32* pState);
    RTS_RESULT (*call_hook)(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR* pCursor, int reverse);
};
void set_ops(const Ops* ops);

} // namespace tray

#endif
