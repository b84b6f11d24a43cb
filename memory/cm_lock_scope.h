/* A scope that holds one of the component manager's locks (a dictionary's, a hash table's), for
 * the memory components. A handle that is not usable, or a lock the manager does not enter yet
 * (before its start-up switched locking on), leaves the scope unlocked, and only a lock that was
 * really entered is left again. */
#ifndef CM_LOCK_SCOPE_H
#define CM_LOCK_SCOPE_H

#include "cm/rts_common.h"
#include "cm.h"

class CMLockScope {
public:
    explicit CMLockScope(RTS_HANDLE lock)
        : lock_(lock), locked_(rts::valid_handle(lock) && CMLockEnter(lock) == RES_OK) {}
    ~CMLockScope() {
        if (locked_) CMLockLeave(lock_);
    }
    CMLockScope(const CMLockScope&) = delete;
    CMLockScope& operator=(const CMLockScope&) = delete;

private:
    RTS_HANDLE lock_;
    bool locked_;
};

#endif
