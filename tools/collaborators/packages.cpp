// The device-package service (component "DevPackages"): a package records its name, the
// component that made it and the files put into it, and whether it was closed.
#include <list>
#include <mutex>

#include "cm/rts_common.h"
#include "collaborators.h"
#include "collaborators_internal.h"

namespace collab {
namespace {

std::mutex g_lock;
std::list<Package> g_packages;

const CMExportEntry kExports[] = {
    CM_EXPORT(DMPackageCreate),
    CM_EXPORT(DMPackageBackupFile),
    CM_EXPORT(DMPackageClose),
    {nullptr, nullptr, 0, 0},
};

} // namespace

RTS_RESULT DevPackages__Entry(ComponentInitRecord* pInit) {
    return entry<kPackagesCmpId, kExports>(pInit);
}

std::vector<Package> packages() {
    std::lock_guard<std::mutex> guard(g_lock);
    return {g_packages.begin(), g_packages.end()};
}

void reset_packages() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_packages.clear();
}

} // namespace collab

using collab::g_lock;

extern "C" RTS_HANDLE DMPackageCreate(void*, RTS_UI32 cmpId, const char* name, RTS_RESULT* pResult) {
    if (name == nullptr) return rts::report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    std::lock_guard<std::mutex> guard(g_lock);
    collab::Package& p = collab::g_packages.emplace_back(collab::Package{name, cmpId, {}, false});
    return rts::report<RTS_HANDLE>(pResult, RES_OK, &p);
}

extern "C" RTS_RESULT DMPackageBackupFile(RTS_HANDLE hPackage, const char* fileName, const char* key) {
    if (hPackage == nullptr || fileName == nullptr || key == nullptr) return RES_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    static_cast<collab::Package*>(hPackage)->files.emplace_back(fileName, key);
    return RES_OK;
}

extern "C" RTS_RESULT DMPackageClose(RTS_HANDLE hPackage) {
    if (hPackage == nullptr) return RES_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    static_cast<collab::Package*>(hPackage)->closed = true;
    return RES_OK;
}
