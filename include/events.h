/* The optional event service, as the framework's components call it. No component of this
 * program provides it; a program or a test that does lets the components tell listeners what
 * happens (the manager's start and stop, raised exceptions, code loaded at run time). */
#ifndef EVENTS_H
#define EVENTS_H

#include "rts_types.h"

RTS_BEGIN_C

/* What a listener gets when an event is posted: the parameter id and version the poster chose,
 * and the poster's record, which the listener may change. */
typedef struct {
    RTS_UI32 eventId;
    RTS_UI32 paramId;
    RTS_UI32 version;
    void* pParam;
} EventParam;
typedef void (*PF_EVENT_CALLBACK)(EventParam* pEvent, void* pUser);

/* An event is its 32-bit id and the id of the component that provides it; opening with
 * component id 0 finds the event of that id whichever component provides it. */
typedef RTS_HANDLE (*PF_EVENT_CREATE)(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult);
typedef RTS_HANDLE (*PF_EVENT_OPEN)(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_EVENT_HANDLE)(RTS_HANDLE hEvent);
/* Hands the record to every registered callback, synchronously. */
typedef RTS_RESULT (*PF_EVENT_POST2)(RTS_HANDLE hEvent, RTS_UI32 paramId, RTS_UI32 version, void* pParam);
typedef RTS_RESULT (*PF_EVENT_CALLBACK_FUNCTION)(RTS_HANDLE hEvent, PF_EVENT_CALLBACK pfCallback,
                                                 void* pUser);

/* The calls themselves, for a component that provides the service. */
RTS_HANDLE EventOpen(RTS_UI32 eventId, RTS_UI32 cmpId, RTS_RESULT* pResult);
RTS_RESULT EventClose(RTS_HANDLE hEvent);
RTS_RESULT EventPost2(RTS_HANDLE hEvent, RTS_UI32 paramId, RTS_UI32 version, void* pParam);
RTS_RESULT EventRegisterCallbackFunction(RTS_HANDLE hEvent, PF_EVENT_CALLBACK pfCallback, void* pUser);
RTS_RESULT EventUnregisterCallbackFunction(RTS_HANDLE hEvent, PF_EVENT_CALLBACK pfCallback, void* pUser);

RTS_END_C

#endif
