/* Edge configuration mode. For now only the entry point of the maintenance run exists, so
 * that the program entry can recognise that run; it answers RES_NOTIMPLEMENTED until the
 * configuration-file writing is added (the run's exit code is the same either way). */
#include "edge_mode.h"

extern "C" RTS_RESULT WriteGatewayMainenanceSetting(const RTS_WCHAR* pcszGatewayCfgFile) {
    return RES_NOTIMPLEMENTED;
}
