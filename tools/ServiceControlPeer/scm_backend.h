/* The Windows peer's backend: every request is carried out by the real service control
 * manager, and its error code is the result word. */
#ifndef SCM_BACKEND_H
#define SCM_BACKEND_H

#include "peer.h"
#include "win_service.h"

class ScmBackend : public peer::Backend {
public:
    RTS_UI32 start(const char* name) override;
    RTS_UI32 stop(const char* name) override;
    RTS_UI32 query(const char* name, RTS_UI32* pState) override;

private:
    /* The manager connection, opened on first use and again after it failed. */
    SC_HANDLE manager();
    win_service::ScHandle manager_;
};

#endif
