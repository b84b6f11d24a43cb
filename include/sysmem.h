/* Heap adaptation (SysMem): zero-filled memory tagged with its owner component's name. */
#ifndef SYSMEM_H
#define SYSMEM_H

#include "rts_types.h"

RTS_BEGIN_C

/* Zero-filled block; size 0 gives RES_PARAMETER and null, a refusing heap RES_NOMEMORY. */
void* SysMemAllocData(const char* owner, RTS_SIZE size, RTS_RESULT* pResult);
/* Null gives RES_PARAMETER. */
RTS_RESULT SysMemFreeData(const char* owner, void* address);

RTS_END_C

#endif
