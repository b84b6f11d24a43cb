// The instance object of a component whose class is also a log backend: the record a logger
// keeps of a backend instance (its first fields are those of the component's own interface
// object) and the backend's table, which points back at it.
#pragma once

#include "cmplog.h"

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
