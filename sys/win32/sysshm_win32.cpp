/* Shared memory on Windows: named file mappings backed by the paging file, their views,
 * locking views into physical memory, the access list of new mappings (authenticated users
 * may read, write and execute), the session enumeration of the terminal services library
 * loaded at run time, and the "sysdrvq7" driver that maps physical memory. */
#include <windows.h>

#include <winioctl.h>

#include "sys/sysshm_os.h"
#include "sysmem.h"

namespace {

constexpr const char* kOwner = "SysShm";
constexpr DWORD kMappingAccess = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE;
/* The working set grows in whole pages of this size, with slack for the pages the lock
 * itself touches: the minimum by two pages more, the maximum by three. */
constexpr SIZE_T kQuotaUnit = 4096;
constexpr SIZE_T kMinimumSlack = 8192;
constexpr SIZE_T kMaximumSlack = 12288;
/* The driver's device type and first function: the first values the system leaves to
 * drivers of its own. */
constexpr DWORD kDriverDeviceType = 0x8000;
constexpr DWORD kDriverFunction = 0x800;
constexpr DWORD kIoctlMap = CTL_CODE(kDriverDeviceType, kDriverFunction, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kIoctlUnmap =
    CTL_CODE(kDriverDeviceType, kDriverFunction + 1, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kSessionListVersion = 1; /* the only layout of the session list there is */

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

/* Maps all of the mapping; on success the view owns the mapping handle, else it is closed. */
rts::OsError map_view(HANDLE mapping, sysshm_os::View* view, const char** pCall) {
    void* address = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    MEMORY_BASIC_INFORMATION info{};
    rts::OsError error = rts::kOsOk;
    if (address == nullptr) {
        error = sys_os::failed("MapViewOfFile", GetLastError(), pCall);
    } else if (VirtualQuery(address, &info, sizeof info) == 0) {
        error = sys_os::failed("VirtualQuery", GetLastError(), pCall);
        UnmapViewOfFile(address);
    }
    if (error != rts::kOsOk) {
        CloseHandle(mapping);
        return error;
    }
    *view = sysshm_os::View{mapping, address, static_cast<RTS_UI64>(info.RegionSize)};
    return rts::kOsOk;
}

rts::OsError mapping_open(const char* name, sysshm_os::View* pView, const char** pCall) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, TRUE, name);
    if (mapping == nullptr) return sys_os::failed("OpenFileMappingA", GetLastError(), pCall);
    return map_view(mapping, pView, pCall);
}

rts::OsError mapping_create(const char* localName, RTS_UI64 size, sysshm_os::View* pView,
                            const char** pCall) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), &g_descriptor, FALSE};
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, g_acl != nullptr ? &sa : nullptr, PAGE_READWRITE,
                           static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), localName);
    if (mapping == nullptr) return sys_os::failed("CreateFileMappingA", GetLastError(), pCall);
    return map_view(mapping, pView, pCall);
}

rts::OsError mapping_close(sysshm_os::View* pView, const char** pCall) {
    rts::OsError error = rts::kOsOk;
    if (pView->address != nullptr && !UnmapViewOfFile(pView->address))
        error = sys_os::failed("UnmapViewOfFile", GetLastError(), pCall);
    if (pView->mapping != nullptr && !CloseHandle(pView->mapping) && error == rts::kOsOk)
        error = sys_os::failed("CloseHandle", GetLastError(), pCall);
    *pView = sysshm_os::View{};
    return error;
}

rts::OsError lock(void* address, RTS_UI64 size, const char** pCall) {
    return VirtualLock(address, static_cast<SIZE_T>(size))
               ? rts::kOsOk
               : sys_os::failed("VirtualLock", GetLastError(), pCall);
}

bool quota_exceeded(rts::OsError error) {
    return error == ERROR_WORKING_SET_QUOTA || error == ERROR_NOT_ENOUGH_QUOTA;
}

rts::OsError grow_lock_quota(RTS_UI64 size, const char** pCall) {
    SIZE_T minimum = 0;
    SIZE_T maximum = 0;
    HANDLE process = GetCurrentProcess();
    if (!GetProcessWorkingSetSize(process, &minimum, &maximum))
        return sys_os::failed("GetProcessWorkingSetSize", GetLastError(), pCall);
    const SIZE_T rounded = static_cast<SIZE_T>(size) / kQuotaUnit * kQuotaUnit;
    if (!SetProcessWorkingSetSize(process, minimum + rounded + kMinimumSlack,
                                  maximum + rounded + kMaximumSlack))
        return sys_os::failed("SetProcessWorkingSetSize", GetLastError(), pCall);
    return rts::kOsOk;
}

rts::OsError unlock(void* address, RTS_UI64 size, const char** pCall) {
    return VirtualUnlock(address, static_cast<SIZE_T>(size))
               ? rts::kOsOk
               : sys_os::failed("VirtualUnlock", GetLastError(), pCall);
}

/* An access list of one allowed entry: the list header, the entry, and the identifier in
 * place of the entry's first identifier word. */
DWORD acl_size(PSID sid) {
    return sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(ACCESS_ALLOWED_ACE::SidStart) +
           GetLengthSid(sid);
}

/* Fills the access list and hangs it into the descriptor. */
rts::OsError describe(PACL acl, DWORD size, PSID sid, const char** pCall) {
    if (!InitializeAcl(acl, size, ACL_REVISION))
        return sys_os::failed("InitializeAcl", GetLastError(), pCall);
    if (!AddAccessAllowedAce(acl, ACL_REVISION, kMappingAccess, sid))
        return sys_os::failed("AddAccessAllowedAce", GetLastError(), pCall);
    if (!InitializeSecurityDescriptor(&g_descriptor, SECURITY_DESCRIPTOR_REVISION))
        return sys_os::failed("InitializeSecurityDescriptor", GetLastError(), pCall);
    if (!SetSecurityDescriptorDacl(&g_descriptor, TRUE, acl, FALSE))
        return sys_os::failed("SetSecurityDescriptorDacl", GetLastError(), pCall);
    return rts::kOsOk;
}

rts::OsError security_init(const char** pCall) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0, 0, 0, 0, &sid))
        return sys_os::failed("AllocateAndInitializeSid", GetLastError(), pCall);
    const DWORD size = acl_size(sid);
    auto acl = static_cast<PACL>(SysMemAllocData(kOwner, size, nullptr));
    rts::OsError error = rts::kOsOk;
    if (acl == nullptr) {
        error = sys_os::failed("SysMemAllocData", ERROR_NOT_ENOUGH_MEMORY, pCall);
    } else {
        error = describe(acl, size, sid, pCall);
    }
    FreeSid(sid);
    if (error != rts::kOsOk) {
        if (acl != nullptr) SysMemFreeData(kOwner, acl);
        return error;
    }
    g_acl = acl;
    return rts::kOsOk;
}

rts::OsError security_exit(const char**) {
    if (g_acl != nullptr) SysMemFreeData(kOwner, g_acl);
    g_acl = nullptr;
    return rts::kOsOk;
}

rts::OsError sessions_unload(const char** pCall) {
    HMODULE library = g_wts;
    g_wts = nullptr;
    g_enumerate = nullptr;
    g_free_memory = nullptr;
    if (library != nullptr && !FreeLibrary(library))
        return sys_os::failed("FreeLibrary", GetLastError(), pCall);
    return rts::kOsOk;
}

rts::OsError sessions_load(bool* pAvailable, const char** pCall) {
    *pAvailable = false;
    if (g_wts == nullptr) g_wts = LoadLibraryA("Wtsapi32.dll");
    if (g_wts == nullptr) return sys_os::failed("LoadLibraryA", GetLastError(), pCall);
    g_enumerate = reinterpret_cast<EnumerateSessionsFn>(
        reinterpret_cast<void*>(GetProcAddress(g_wts, "WTSEnumerateSessionsA")));
    g_free_memory =
        reinterpret_cast<FreeMemoryFn>(reinterpret_cast<void*>(GetProcAddress(g_wts, "WTSFreeMemory")));
    if (g_enumerate == nullptr || g_free_memory == nullptr) {
        const rts::OsError error = sys_os::failed("GetProcAddress", GetLastError(), pCall);
        const char* ignored = nullptr;
        sessions_unload(&ignored);
        return error;
    }
    *pAvailable = true;
    return rts::kOsOk;
}

rts::OsError for_each_session(bool (*visit)(RTS_UI32 sessionId, void* context), void* context,
                              const char** pCall) {
    SessionInfo* sessions = nullptr;
    DWORD count = 0;
    if (g_enumerate == nullptr) return rts::kOsOk;
    if (!g_enumerate(nullptr /* this server */, 0, kSessionListVersion, &sessions, &count))
        return sys_os::failed("WTSEnumerateSessionsA", GetLastError(), pCall);
    bool found = false;
    for (DWORD i = 0; i < count && !found; ++i) found = visit(sessions[i].SessionId, context);
    g_free_memory(sessions);
    return rts::kOsOk;
}

/* Starts the driver service (it may already run) and waits while it reports start pending. A
 * step that fails here shows as the failure to open the device. */
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

rts::OsError driver_open(void** pDevice, const char** pCall) {
    start_driver();
    HANDLE device =
        CreateFileA("\\\\.\\SYSDRVQ7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return sys_os::failed("CreateFileA", GetLastError(), pCall);
    *pDevice = device;
    return rts::kOsOk;
}

rts::OsError driver_map(void* device, RTS_UI64 physicalAddress, RTS_UI64 size, void** pAddress,
                        const char** pCall) {
    MapRequest request{0, physicalAddress, 0, static_cast<RTS_UI32>(size)};
    RTS_UI64 visible = 0;
    DWORD returned = 0;
    if (!DeviceIoControl(device, kIoctlMap, &request, sizeof request, &visible, sizeof visible, &returned,
                         nullptr))
        return sys_os::failed("DeviceIoControl", GetLastError(), pCall);
    if (returned < sizeof visible || visible == 0) /* the driver answered without an address */
        return sys_os::failed("DeviceIoControl", ERROR_INVALID_DATA, pCall);
    *pAddress = reinterpret_cast<void*>(static_cast<RTS_UINTPTR>(visible));
    return rts::kOsOk;
}

rts::OsError driver_unmap(void* device, void* address, RTS_UI64, const char** pCall) {
    RTS_UI64 visible = reinterpret_cast<RTS_UINTPTR>(address);
    DWORD returned = 0;
    if (!DeviceIoControl(device, kIoctlUnmap, &visible, sizeof visible, nullptr, 0, &returned, nullptr))
        return sys_os::failed("DeviceIoControl", GetLastError(), pCall);
    return rts::kOsOk;
}

rts::OsError driver_close(void* device, const char** pCall) {
    return CloseHandle(device) ? rts::kOsOk : sys_os::failed("CloseHandle", GetLastError(), pCall);
}

constexpr sysshm_os::Calls kCalls = {
    mapping_open, mapping_create, mapping_close, lock,          quota_exceeded,  grow_lock_quota,
    unlock,       security_init,  security_exit, sessions_load, sessions_unload, for_each_session,
    driver_open,  driver_map,     driver_unmap,  driver_close,
};

} // namespace

const sysshm_os::Calls& sysshm_os::platform_calls() {
    return kCalls;
}
