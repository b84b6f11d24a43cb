/* Shared memory on Windows: named file mappings backed by the paging file, their views,
 * locking views into physical memory, the access list of new mappings (authenticated users
 * may read, write and execute), the session enumeration of the terminal services library
 * loaded at run time, and the "sysdrvq7" driver that maps physical memory. */
#include <windows.h>

#include "sys/sysshm_os.h"
#include "sysmem.h"

namespace {

constexpr const char* kOwner = "SysShm";
constexpr DWORD kMappingAccess = 0xE0000000; /* generic read, write and execute */
constexpr DWORD kErrorWorkingSetQuota = 1453;
constexpr DWORD kErrorCommitmentLimit = 1816;
constexpr DWORD kIoctlMap = 0x80002000;
constexpr DWORD kIoctlUnmap = 0x80002004;

SECURITY_DESCRIPTOR g_descriptor;
PACL g_acl = nullptr;

/* The terminal services session list, as the library hands it out. */
struct SessionInfo {
    DWORD SessionId;
    LPSTR pWinStationName;
    int State;
};
using EnumerateSessionsFn = BOOL(WINAPI*)(HANDLE server, DWORD reserved, DWORD version, SessionInfo** ppInfo,
                                          DWORD* pCount);
using FreeMemoryFn = void(WINAPI*)(void* memory);

HMODULE g_wts = nullptr;
EnumerateSessionsFn g_enumerate = nullptr;
FreeMemoryFn g_free_memory = nullptr;

/* The driver's map request: physical address and size in, the visible address out. */
#pragma pack(push, 1)
struct MapRequest {
    RTS_UI64 reserved;
    RTS_UI64 physicalAddress;
    RTS_UI32 reserved2;
    RTS_UI32 size;
};
#pragma pack(pop)
static_assert(sizeof(MapRequest) == 24, "the driver expects 24 bytes");

/* Starts the driver service (it may already run) and waits while it reports start pending. */
void start_driver() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return;
    SC_HANDLE service = OpenServiceA(manager, "sysdrvq7", SERVICE_ALL_ACCESS);
    if (service != nullptr && StartServiceA(service, 0, nullptr)) {
        SERVICE_STATUS status{};
        DWORD checkPoint = 0;
        while (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_START_PENDING &&
               status.dwCheckPoint >= checkPoint) {
            checkPoint = status.dwCheckPoint + 1;
            Sleep(status.dwWaitHint);
        }
    }
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

HANDLE open_driver() {
    start_driver();
    return CreateFileA("\\\\.\\SYSDRVQ7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

bool map_view(HANDLE mapping, sysshm_os::View* view) {
    void* address = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    MEMORY_BASIC_INFORMATION info{};
    if (address == nullptr || VirtualQuery(address, &info, sizeof info) == 0) {
        if (address != nullptr) UnmapViewOfFile(address);
        CloseHandle(mapping);
        return false;
    }
    *view = sysshm_os::View{mapping, address, static_cast<RTS_UI64>(info.RegionSize)};
    return true;
}

} // namespace

namespace sysshm_os {

bool mapping_open(const char* name, View* pView) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, TRUE, name);
    return mapping != nullptr && map_view(mapping, pView);
}

bool mapping_create(const char* localName, RTS_UI64 size, View* pView) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), &g_descriptor, FALSE};
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, g_acl != nullptr ? &sa : nullptr,
                                        PAGE_READWRITE, 0, static_cast<DWORD>(size), localName);
    return mapping != nullptr && map_view(mapping, pView);
}

void mapping_close(View* pView) {
    if (pView->address != nullptr) UnmapViewOfFile(pView->address);
    if (pView->mapping != nullptr) CloseHandle(pView->mapping);
    *pView = View{};
}

bool lock(void* address, RTS_UI64 size, bool* pQuota) {
    if (VirtualLock(address, static_cast<SIZE_T>(size))) return true;
    const DWORD error = GetLastError();
    *pQuota = error == kErrorWorkingSetQuota || error == kErrorCommitmentLimit;
    return false;
}

bool grow_lock_quota(RTS_UI64 size) {
    SIZE_T minimum = 0;
    SIZE_T maximum = 0;
    HANDLE process = GetCurrentProcess();
    if (!GetProcessWorkingSetSize(process, &minimum, &maximum)) return false;
    const SIZE_T rounded = static_cast<SIZE_T>(size & ~RTS_UI64{4095});
    return SetProcessWorkingSetSize(process, minimum + rounded + 8192, maximum + rounded + 12288) != 0;
}

void unlock(void* address, RTS_UI64 size) {
    VirtualUnlock(address, static_cast<SIZE_T>(size));
}

bool security_init() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0, 0, 0, 0, &sid))
        return false;
    const DWORD size = GetLengthSid(sid) + 16;
    auto acl = static_cast<PACL>(SysMemAllocData(kOwner, size, nullptr));
    bool ok = acl != nullptr && InitializeAcl(acl, size, ACL_REVISION) &&
              AddAccessAllowedAce(acl, ACL_REVISION, kMappingAccess, sid) &&
              InitializeSecurityDescriptor(&g_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&g_descriptor, TRUE, acl, FALSE);
    FreeSid(sid);
    if (!ok) {
        if (acl != nullptr) SysMemFreeData(kOwner, acl);
        return false;
    }
    g_acl = acl;
    return true;
}

void security_exit() {
    if (g_acl != nullptr) SysMemFreeData(kOwner, g_acl);
    g_acl = nullptr;
}

bool sessions_load() {
    if (g_wts == nullptr) g_wts = LoadLibraryA("Wtsapi32.dll");
    if (g_wts == nullptr) return false;
    g_enumerate = reinterpret_cast<EnumerateSessionsFn>(
        reinterpret_cast<void*>(GetProcAddress(g_wts, "WTSEnumerateSessionsA")));
    g_free_memory =
        reinterpret_cast<FreeMemoryFn>(reinterpret_cast<void*>(GetProcAddress(g_wts, "WTSFreeMemory")));
    return g_enumerate != nullptr && g_free_memory != nullptr;
}

void sessions_unload() {
    if (g_wts != nullptr) FreeLibrary(g_wts);
    g_wts = nullptr;
    g_enumerate = nullptr;
    g_free_memory = nullptr;
}

bool for_each_session(bool (*visit)(RTS_UI32 sessionId, void* context), void* context) {
    SessionInfo* sessions = nullptr;
    DWORD count = 0;
    if (g_enumerate == nullptr || g_free_memory == nullptr ||
        !g_enumerate(nullptr, 0, 1, &sessions, &count)) {
        return false;
    }
    bool found = false;
    for (DWORD i = 0; i < count && !found; ++i) found = visit(sessions[i].SessionId, context);
    g_free_memory(sessions);
    return found;
}

RTS_RESULT map_physical(RTS_UI64 physicalAddress, RTS_UI64 size, void** pAddress) {
    HANDLE device = open_driver();
    if (device == INVALID_HANDLE_VALUE) return RES_FAILED;
    MapRequest request{0, physicalAddress, 0, static_cast<RTS_UI32>(size)};
    RTS_UI64 visible = 0;
    DWORD returned = 0;
    const bool ok = DeviceIoControl(device, kIoctlMap, &request, sizeof request, &visible, sizeof visible,
                                    &returned, nullptr) &&
                    returned >= sizeof visible && visible != 0;
    CloseHandle(device);
    if (!ok) return RES_NO_OBJECT;
    *pAddress = reinterpret_cast<void*>(static_cast<RTS_UINTPTR>(visible));
    return RES_OK;
}

bool unmap_physical(void* address, RTS_UI64 size) {
    HANDLE device = open_driver();
    if (device == INVALID_HANDLE_VALUE) return false;
    RTS_UI64 visible = reinterpret_cast<RTS_UINTPTR>(address);
    DWORD returned = 0;
    const bool ok =
        DeviceIoControl(device, kIoctlUnmap, &visible, sizeof visible, nullptr, 0, &returned, nullptr);
    CloseHandle(device);
    return ok;
}

} // namespace sysshm_os
