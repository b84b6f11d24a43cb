/* The entry of a component that also offers a class: the init record filled as for every
 * component, with the class's create and delete functions, and the class registered with the
 * manager when the manager offers registration. */
#ifndef CLASS_ENTRY_H
#define CLASS_ENTRY_H

#include "cm.h"

namespace rts {

inline RTS_RESULT fill_class_entry(ComponentInitRecord* pInit, RTS_UI32 cmpId,
                                   PF_EXPORT_FUNCTIONS exportFunctions, PF_HOOK_FUNCTION hookFunction,
                                   RTS_UI32 classId, PF_CREATE_INSTANCE createInstance,
                                   PF_DELETE_INSTANCE deleteInstance) {
    RTS_RESULT r = CMFillInitRecord(pInit, cmpId, exportFunctions, nullptr, CMComponentVersion, hookFunction);
    if (r != RES_OK) return r;
    pInit->createInstance = createInstance;
    pInit->deleteInstance = deleteInstance;
    if (pInit->registerClass != nullptr) pInit->registerClass(cmpId, classId);
    return RES_OK;
}

} // namespace rts

#endif
