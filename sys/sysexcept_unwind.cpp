/* Unwind records for machine code loaded at run time. The loader of such code tells the
 * listeners of the code-area event; for every function of a loaded area this unit reads the
 * prologue and builds the platform's x64 unwind information (version 1, frame register RBP, the
 * frame-pointer set and one push per saved register), and hands the area to the platform's
 * unwinder through a lookup. Records are blocks of one pool, made over a static area when the
 * first area comes and grown on demand; an area's own bookkeeping comes from the heap. Both go when the area
 * is unloaded or at CH_EXIT3. The unwinder counts a record's offsets from the base of the table it was given,
 * so the table begins at the lowest of the area and its records; an area whose table would span more than 4
 * GB gets none. */
#include <algorithm>
#include <mutex>

#include "cm/rts_common.h"
#include "cm.h"
#include "events.h"
#include "mempool.h"
#include "sys/sysexcept_internal.h"
#include "sys/sysexcept_os.h"
#include "sysmem.h"

using rts::valid_handle;
using sysexcept::imported;

namespace sysexcept_unwind {

namespace {

constexpr RTS_UI8 kPushFramePointer = 0x55;
constexpr RTS_UI8 kSetFramePointer[] = {0x48, 0x8B, 0xEC}; /* mov rbp, rsp */
constexpr RTS_UI8 kRexB = 0x41;                            /* the pushed register is r8..r15 */
constexpr RTS_UI8 kVersion1 = 1;
constexpr RTS_UI8 kFrameRegisterRbp = 5;
constexpr RTS_UI8 kPushNonvolatile = 0;
constexpr RTS_UI8 kSetFrameRegister = 3;
constexpr RTS_SIZE kHeaderSize = 4;
constexpr int kMaxPushes = (kInfoSize - kHeaderSize) / 2 - 2;
constexpr RTS_SIZE kPoolBytes = 16 * 1024;
constexpr RTS_SIZE kPoolGrowth = kPoolBytes / sizeof(Record);

/* A loaded area: its base, the base and size of its function table (from the lowest of the
 * area and its records, which the table's offsets count from), and its records. */
struct Area {
    Area* next;
    RTS_UI8* base;
    RTS_UI8* tableBase;
    RTS_UI32 tableSize;
    RTS_UI32 count;
    Record* records[1];
};

std::mutex g_lock;
Area* g_areas = nullptr;
RTS_HANDLE g_pool = nullptr;
/* The pool starts over a static area, near the program's own code and data. */
alignas(8) unsigned char g_poolArea[kPoolBytes];
RTS_HANDLE g_event = nullptr;

/* One unwind code: the prologue offset after the operation, the operation and its register. */
RTS_UI8* put_code(RTS_UI8* at, RTS_SIZE offset, RTS_UI8 operation, RTS_UI8 reg) {
    at[0] = static_cast<RTS_UI8>(offset);
    at[1] = static_cast<RTS_UI8>(operation | (reg << 4));
    return at + 2;
}

const void* lookup(RTS_UI64 pc, void* context) {
    const auto* area = static_cast<const Area*>(context);
    const RTS_UI64 offset = pc - reinterpret_cast<RTS_UINTPTR>(area->tableBase);
    for (RTS_UI32 i = 0; i < area->count; ++i)
        if (offset >= area->records[i]->begin && offset < area->records[i]->end) return area->records[i];
    return nullptr;
}

/* The record of the function at begin..end of the area, its offsets still counted from the
 * area's base; null when it has no such prologue or the pool is exhausted. */
Record* build_record(const SysExceptCodeArea& a, RTS_UI32 begin, RTS_UI32 end) {
    if (!valid_handle(g_pool))
        g_pool = MemPoolCreateStatic(sizeof(Record), sizeof g_poolArea, g_poolArea, nullptr);
    if (!valid_handle(g_pool)) return nullptr;
    auto* record = static_cast<Record*>(MemPoolGetBlock(g_pool, nullptr));
    if (record == nullptr && MemPoolExtendDynamic(g_pool, "SysExcept", kPoolGrowth) == RES_OK)
        record = static_cast<Record*>(MemPoolGetBlock(g_pool, nullptr));
    if (record == nullptr) return nullptr;
    if (build_info(a.pCode + begin, end - begin, record->unwind) == 0) {
        MemPoolPutBlock(record);
        return nullptr;
    }
    record->begin = begin;
    record->end = end;
    return record;
}

/* Counts the offsets of the area's records from the lowest address of the area and its records;
 * false when the table would span more than the offsets can reach. */
bool place_table(Area& area, RTS_UI32 codeSize) {
    auto low = reinterpret_cast<RTS_UINTPTR>(area.base);
    for (RTS_UI32 i = 0; i < area.count; ++i)
        low = std::min(low, reinterpret_cast<RTS_UINTPTR>(area.records[i]));
    const RTS_UI64 shift = reinterpret_cast<RTS_UINTPTR>(area.base) - low;
    if (shift + codeSize > 0xFFFFFFFFu) return false;
    area.tableBase = reinterpret_cast<RTS_UI8*>(low);
    area.tableSize = static_cast<RTS_UI32>(shift + codeSize);
    for (RTS_UI32 i = 0; i < area.count; ++i) {
        Record& r = *area.records[i];
        r.begin += static_cast<RTS_UI32>(shift);
        r.end += static_cast<RTS_UI32>(shift);
        r.info = static_cast<RTS_UI32>(reinterpret_cast<RTS_UINTPTR>(r.unwind) - low);
    }
    return true;
}

void free_area(Area* area) {
    for (RTS_UI32 i = 0; i < area->count; ++i) MemPoolPutBlock(area->records[i]);
    SysMemFreeData("SysExcept", area);
}

void load(const SysExceptCodeArea& a) {
    auto* area = static_cast<Area*>(
        SysMemAllocData("SysExcept", sizeof(Area) + sizeof(Record*) * a.functionCount, nullptr));
    if (area == nullptr) return;
    *area = {nullptr, a.pCode, a.pCode, a.codeSize, 0, {}};
    for (RTS_UI32 i = 0; i < a.functionCount; ++i) {
        const RTS_UI32 end = i + 1 < a.functionCount ? a.pFunctions[i + 1] : a.codeSize;
        if (Record* record = build_record(a, a.pFunctions[i], end)) area->records[area->count++] = record;
    }
    if (!place_table(*area, a.codeSize) ||
        sys_os::call(CMPID_SysExcept, nullptr, sysexcept_os::calls().add_function_table, area->tableBase,
                     area->tableSize, lookup, area) != rts::kOsOk) {
        free_area(area);
        return;
    }
    area->next = g_areas;
    g_areas = area;
}

/* Takes the area of this base out of the unwinder's reach and frees it; all areas for null. */
void unload(const RTS_UI8* base) {
    for (Area** link = &g_areas; *link != nullptr;) {
        Area* area = *link;
        if (base != nullptr && area->base != base) {
            link = &area->next;
            continue;
        }
        *link = area->next;
        sys_os::call(CMPID_SysExcept, nullptr, sysexcept_os::calls().delete_function_table, area->tableBase);
        free_area(area);
    }
}

void on_code_area(EventParam* event, void*) {
    const auto* area = static_cast<const SysExceptCodeArea*>(event->pParam);
    if (area == nullptr || area->pCode == nullptr) return;
    std::lock_guard<std::mutex> guard(g_lock);
    if (area->loaded != 0)
        load(*area);
    else
        unload(area->pCode);
}

} // namespace

RTS_SIZE build_info(const RTS_UI8* code, RTS_SIZE size, RTS_UI8 (&unwind)[kInfoSize]) {
    constexpr RTS_SIZE kFrameSet = 1 + sizeof kSetFramePointer;
    if (size < kFrameSet || code[0] != kPushFramePointer || code[1] != kSetFramePointer[0] ||
        code[2] != kSetFramePointer[1] || code[3] != kSetFramePointer[2])
        return 0;
    RTS_UI8 regs[kMaxPushes];
    RTS_SIZE ends[kMaxPushes];
    int pushes = 0;
    RTS_SIZE at = kFrameSet;
    for (; pushes < kMaxPushes; ++pushes) {
        const bool high = at + 1 < size && code[at] == kRexB;
        const RTS_UI8 op = high ? code[at + 1] : at < size ? code[at] : 0;
        if ((op & 0xF8) != 0x50) break; /* push of a register */
        regs[pushes] = static_cast<RTS_UI8>((op & 7) + (high ? 8 : 0));
        at += high ? 2 : 1;
        ends[pushes] = at;
    }
    const int codes = pushes + 2;
    unwind[0] = kVersion1;
    unwind[1] = static_cast<RTS_UI8>(at);
    unwind[2] = static_cast<RTS_UI8>(codes);
    unwind[3] = kFrameRegisterRbp;
    RTS_UI8* next = unwind + kHeaderSize;
    for (int i = pushes - 1; i >= 0; --i) next = put_code(next, ends[i], kPushNonvolatile, regs[i]);
    next = put_code(next, kFrameSet, kSetFrameRegister, 0);
    put_code(next, 1, kPushNonvolatile, kFrameRegisterRbp);
    return kHeaderSize + 2 * static_cast<RTS_SIZE>((codes + 1) & ~1);
}

void open_code_events() {
    auto open = imported<PF_EVENT_OPEN>("EventOpen");
    auto subscribe = imported<PF_EVENT_CALLBACK_FUNCTION>("EventRegisterCallbackFunction");
    if (open == nullptr || subscribe == nullptr) return;
    RTS_HANDLE event = open(SYSEXCEPT_EVENT_CODE_AREA, 0, nullptr);
    if (!valid_handle(event)) return;
    if (subscribe(event, on_code_area, nullptr) == RES_OK)
        g_event = event;
    else if (auto close = imported<PF_EVENT_HANDLE>("EventClose"))
        close(event);
}

void close_code_events() {
    if (valid_handle(g_event)) {
        if (auto unsubscribe = imported<PF_EVENT_CALLBACK_FUNCTION>("EventUnregisterCallbackFunction"))
            unsubscribe(g_event, on_code_area, nullptr);
        if (auto close = imported<PF_EVENT_HANDLE>("EventClose")) close(g_event);
    }
    g_event = nullptr;
    std::lock_guard<std::mutex> guard(g_lock);
    unload(nullptr);
    if (valid_handle(g_pool)) MemPoolDelete(g_pool, "SysExcept");
    g_pool = nullptr;
}

} // namespace sysexcept_unwind
