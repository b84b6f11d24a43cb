/* Edge configuration mode: switching the gateway into its configuration mode and the
 * elevated maintenance run that writes the setting into the gateway's configuration file. */
#ifndef EDGE_MODE_H
#define EDGE_MODE_H

#include "rts_types.h"

RTS_BEGIN_C

/* Writes MaintenanceMode=1 into section CmpEdgeGateway of the given configuration file.
 * Returns 0 on success, otherwise the platform's error code. */
RTS_RESULT WriteGatewayMainenanceSetting(const RTS_WCHAR* pcszGatewayCfgFile);

RTS_END_C

#endif
