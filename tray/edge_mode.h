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

/* Puts the gateway into its configuration mode, after asking the user: stops the gateway, has
 * an elevated instance of the program write the setting into the gateway's configuration file
 * under the system account's profile, starts the gateway again, and tells the user what to do
 * by hand whenever a step fails. */
void HandleEdgeConfigurationMode(void);

/* The gateway's working directory as its configuration file pszGatewayCfgFile names it, with
 * environment variables resolved and a trailing backslash, in pszWorkingDirectory (ulSize
 * characters). Returns its length; 0 when none is found or it does not fit (what the buffer
 * holds then means nothing). */
RTS_UI32 GetWorkingDirectory(const char* pszGatewayCfgFile, char* pszWorkingDirectory, RTS_UI32 ulSize);

/* Writes MaintenanceMode=1 into section CmpEdgeGateway of the given configuration file, showing
 * the platform's message in a box when that fails. Returns 0 on success, otherwise the
 * platform's error code (0 as well when it reports none); RES_PARAMETER for a null path. */
RTS_RESULT WriteGatewayMainenanceSetting(const RTS_WCHAR* pcszGatewayCfgFile);

RTS_END_C

namespace edge_mode {

/* The service-control request the mode sends its stops and starts with; tests put a fake in
 * place (null restores the real one). */
using Request = RTS_RESULT (*)(RTS_UI32 command, const char* serviceName, RTS_UI32* pState);
void set_request(Request request);

} // namespace edge_mode

#endif
