/* Edge configuration mode: switching the gateway into its configuration mode from the tray
 * menu, and the elevated maintenance run that writes the setting into the gateway's
 * configuration file. */
#ifndef EDGE_MODE_H
#define EDGE_MODE_H

#include "rts_types.h"

RTS_BEGIN_C

/* The tray's further-command handler: runs the configuration mode for the menu command that
 * asks for it and answers 0 to every command. */
RTS_INTPTR EdgeModeCommandHandler(RTS_UI32 command);

/* Puts the gateway into its configuration mode, after asking the user. */
void HandleEdgeConfigurationMode(void);

/* Writes MaintenanceMode=1 into section CmpEdgeGateway of the given configuration file.
 * Returns 0 on success, otherwise the platform's error code. */
RTS_RESULT WriteGatewayMainenanceSetting(const RTS_WCHAR* pcszGatewayCfgFile);

RTS_END_C

#endif
