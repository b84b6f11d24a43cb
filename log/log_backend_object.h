// The instance object of a component whose class is also a log backend: the record a logger
// keeps of a backend instance (its first fields are those of the component's own interface
// object) and the backend's table, which points back at it.
#pragma once

#include "cm/rts_common.h"
#include "cmplog.h"
#include "sysmem.h"

struct LogBackendObject {
    LogBackendInstance instance;
    ILogBackend backend;
};

// Fills a new object with its query and the backend's operations.
inline void log_backend_object_init(LogBackendObject* object, void* (*query)(void*, RTS_UI32, RTS_RESULT*),
                                    const ILogBackend& operations) {
    *object = LogBackendObject{};
    object->instance.QueryInterface = query;
    object->backend = operations;
    object->backend.pInstance = &object->instance;
}

// The query of such an object: the component's own interface, the backend table, or the object
// itself (id 0); each answer counts as a reference.
inline void* log_backend_query(void* object, RTS_UI32 interfaceId, RTS_UI32 ownId, const void* own,
                               RTS_RESULT* pResult) {
    auto* self = static_cast<LogBackendObject*>(object);
    void* answer = interfaceId == ownId                      ? const_cast<void*>(own)
                   : interfaceId == LOG_BACKEND_INTERFACE_ID ? &self->backend
                   : interfaceId == 0                        ? object
                                                             : nullptr;
    if (answer != nullptr) ++self->instance.references;
    return rts::report(pResult, answer != nullptr ? RES_OK : RES_NOTSUPPORTED, answer);
}

// A new object of the component's class from the component's heap; null for another class or
// when no memory is left.
inline void* log_backend_create(const char* owner, RTS_UI32 classId, RTS_UI32 ownClassId,
                                void* (*query)(void*, RTS_UI32, RTS_RESULT*), const ILogBackend& operations) {
    if (classId != ownClassId) return nullptr;
    auto* object = static_cast<LogBackendObject*>(SysMemAllocData(owner, sizeof(LogBackendObject), nullptr));
    if (object != nullptr) log_backend_object_init(object, query, operations);
    return object;
}
