/* Edge configuration mode. The tray hands it its menu command; the steps of the mode itself
 * (confirmation, finding the gateway's configuration file, the elevated run) and the
 * configuration-file writing of the maintenance run are not in place yet: the command does
 * nothing and the maintenance run answers RES_NOTIMPLEMENTED (its exit code is the same either
 * way). */
#include "edge_mode.h"

#include "resources/strings.h"

extern "C" RTS_INTPTR EdgeModeCommandHandler(RTS_UI32 command) {
    if (command == IDM_EDGE) HandleEdgeConfigurationMode();
    return 0;
}

extern "C" void HandleEdgeConfigurationMode(void) {}

extern "C" RTS_RESULT WriteGatewayMainenanceSetting(const RTS_WCHAR* pcszGatewayCfgFile) {
    return RES_NOTIMPLEMENTED;
}
