/* Function export and import: the lookup by name over every component's export tables with
 * its matching rules, the manager's own two export tables and its lower-case wrappers. */
#include <cstring>

#include "cm/cm_internal.h"
#include "cmplog.h"
#include "cmutils.h"

namespace cm {

namespace {

constexpr RTS_SIZE kNameSize = 64;
constexpr RTS_UI32 kOverloadMasterId = 0x7A;

/* The one lookup in progress; lookups are not re-entrant. */
struct Lookup {
    char name[kNameSize];
    const char* active; /* non-null only while a lookup runs */
    RTS_UI32 options;
    RTS_UI32 signatureId;
    RTS_UI32 version;
    bool matched;
    RTS_VOID_FCTPTR function;
    RTS_UI32 foundSignatureId;
    RTS_UI32 foundVersion;
};

Lookup g_lookup{};

char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/* Every lookup compares the searched name with every exported name, so the first character
 * is tested inline before a full comparison. */
bool name_matches(const char* name, int caseInsensitive) {
    if (name == nullptr) return false;
    const bool folded = (g_lookup.options & CM_IMPORT_CASE_INSENSITIVE) != 0 && caseInsensitive != 0;
    if (name[0] == g_lookup.name[0]) {
        if (std::strcmp(name, g_lookup.name) == 0) return true;
    } else if (!folded || lower_ascii(name[0]) != lower_ascii(g_lookup.name[0])) {
        return false;
    }
    return folded && CMUtlStrICmp(name, g_lookup.name) == 0;
}

void record_match(RTS_VOID_FCTPTR function, RTS_UI32 signatureId, RTS_UI32 version) {
    g_lookup.matched = true;
    g_lookup.function = function;
    g_lookup.foundSignatureId = signatureId;
    g_lookup.foundVersion = version;
}

struct Candidate {
    RTS_VOID_FCTPTR function = nullptr;
    bool found = false;
};

/* Checks a recorded match of one component; returns the failure to note, or RES_OK, and
 * whether the match became the candidate. */
RTS_RESULT check_match(const ComponentRecord& rec, RTS_UI32* pSignatureId, RTS_UI32* pVersion,
                       Candidate& candidate, bool& accepted) {
    accepted = false;
    if (!g_lookup.matched) return RES_FAILED;
    if (g_lookup.foundSignatureId != 0 && g_lookup.signatureId != 0 &&
        g_lookup.foundSignatureId != g_lookup.signatureId) {
        if (pSignatureId != nullptr) *pSignatureId = g_lookup.foundSignatureId;
        return RES_SIGNATUREMISMATCH;
    }
    if (g_lookup.foundVersion != 0 && g_lookup.version != 0 &&
        (g_lookup.foundVersion >> 24) != (g_lookup.version >> 24)) {
        if (pVersion != nullptr) *pVersion = g_lookup.foundVersion;
        return RES_VERSIONMISMATCH;
    }
    if ((rec.flags & CM_FLAG_CMODULE) != 0 &&
        ((g_lookup.options & CM_IMPORT_CASE_INSENSITIVE) == 0 || candidate.found ||
         std::strstr(g_lookup.name, "_CEXT") == nullptr))
        return RES_OK;
    candidate.function = g_lookup.function;
    candidate.found = true;
    accepted = true;
    return RES_OK;
}

/* Walks the components in list order and collects the candidate; returns the last failure. */
RTS_RESULT search_components(RTS_UI32* pSignatureId, RTS_UI32* pVersion, Candidate& candidate) {
    PoolLock lock;
    RTS_RESULT failure = RES_FAILED;
    for (ComponentNode* n = first_node(); n != nullptr; n = next_of(n)) {
        g_lookup.matched = false;
        if (n->rec.exportFunctions == nullptr) {
            failure = RES_FAILED;
            continue;
        }
        n->rec.exportFunctions();
        bool accepted = false;
        RTS_RESULT r = check_match(n->rec, pSignatureId, pVersion, candidate, accepted);
        if (r != RES_OK) failure = r;
        if (accepted && (g.overloadableFunctions == 0 || n->rec.id == kOverloadMasterId)) break;
    }
    return failure;
}

/* An imported target resolver may answer a control-language lookup first: RES_OK ends it with
 * the resolver's function, RES_NOTSUPPORTED ends it as failed; anything else (or no resolver)
 * lets the ordinary search run. */
RTS_RESULT ask_resolver(RTS_VOID_FCTPTR* ppFunction) {
    if (imports.SysTargetGetAPI == nullptr || (g_lookup.options & CM_IMPORT_CASE_INSENSITIVE) == 0 ||
        std::strstr(g_lookup.name, "SysTarget") != nullptr)
        return RES_FAILED;
    CMApiToResolve info{g_lookup.name, g_lookup.options, g_lookup.signatureId, g_lookup.version};
    RTS_VOID_FCTPTR function = nullptr;
    RTS_RESULT r = imports.SysTargetGetAPI(&info, &function);
    if (r == RES_OK || r == RES_NOTSUPPORTED) {
        if (ppFunction != nullptr) *ppFunction = r == RES_OK ? function : nullptr;
        return r;
    }
    return RES_FAILED;
}

} // namespace

RTS_RESULT import_optional(const char* name, RTS_VOID_FCTPTR* ppFunction) {
    return CMGetAPI2(name, ppFunction, CM_IMPORT_OPTIONAL, 0, 0);
}

} // namespace cm

using namespace cm;

extern "C" RTS_RESULT CMRegisterAPI2(const char* name, RTS_VOID_FCTPTR function, int caseInsensitive,
                                     RTS_UI32 signatureId, RTS_UI32 version) {
    if (g_lookup.active != nullptr && !g_lookup.matched && name_matches(name, caseInsensitive))
        record_match(function, signatureId, version);
    return RES_OK;
}

extern "C" RTS_RESULT CMRegisterAPI(const void* table, RTS_UINTPTR function, int caseInsensitive,
                                    RTS_UI32 fourth) {
    if (table == nullptr) return RES_NOTINITIALIZED;
    if (function != 0)
        return CMRegisterAPI2(static_cast<const char*>(table), reinterpret_cast<RTS_VOID_FCTPTR>(function),
                              caseInsensitive, fourth, 0);
    if (g_lookup.active == nullptr) return RES_OK;
    for (const auto* e = static_cast<const CMExportEntry*>(table);
         e->function != nullptr && !g_lookup.matched; ++e)
        if (name_matches(e->name, caseInsensitive)) record_match(e->function, e->signatureId, e->version);
    return RES_OK;
}

extern "C" RTS_RESULT CMGetAPI3(const char* name, RTS_VOID_FCTPTR* ppFunction, int options,
                                RTS_UI32* pSignatureId, RTS_UI32* pVersion) {
    if (name == nullptr) return RES_PARAMETER;
    if (std::strlen(name) >= kNameSize) return RES_BUFFERSIZE;
    CMUtlSafeStrCpy(g_lookup.name, kNameSize, name);
    g_lookup.options = static_cast<RTS_UI32>(options);
    g_lookup.signatureId = pSignatureId != nullptr ? *pSignatureId : 0;
    g_lookup.version = pVersion != nullptr ? *pVersion : 0;
    RTS_RESULT resolved = ask_resolver(ppFunction);
    if (resolved == RES_OK || resolved == RES_NOTSUPPORTED) return resolved;
    Candidate candidate;
    RTS_RESULT failure = RES_FAILED;
    if (g.pools) {
        g_lookup.active = g_lookup.name;
        failure = search_components(pSignatureId, pVersion, candidate);
        g_lookup.active = nullptr;
    }
    if (ppFunction != nullptr) *ppFunction = candidate.found ? candidate.function : nullptr;
    if (candidate.found) return RES_OK;
    if ((options & CM_IMPORT_OPTIONAL) == 0)
        log(LOG_ERROR, 1, 22, "Failed to resolve <name>%s</name>", g_lookup.name);
    return failure;
}

extern "C" RTS_RESULT CMGetAPI2(const char* name, RTS_VOID_FCTPTR* ppFunction, int options,
                                RTS_UI32 signatureId, RTS_UI32 version) {
    return CMGetAPI3(name, ppFunction, options, &signatureId, &version);
}

extern "C" RTS_RESULT CMGetAPI(const char* name, RTS_VOID_FCTPTR* ppFunction, RTS_UI32 signatureId) {
    return CMGetAPI3(name, ppFunction, 0, &signatureId, nullptr);
}

extern "C" RTS_RESULT CMGetAPIToResolve(CMApiToResolve* pInfo) {
    if (pInfo == nullptr) return RES_PARAMETER;
    if (g_lookup.active == nullptr) return RES_NOTINITIALIZED;
    pInfo->name = g_lookup.active;
    pInfo->options = g_lookup.options;
    pInfo->signatureId = g_lookup.signatureId;
    pInfo->version = g_lookup.version;
    return RES_OK;
}

extern "C" RTS_RESULT CMReleaseAPI(RTS_VOID_FCTPTR function) {
    return RES_OK;
}

extern "C" RTS_RESULT CMImportFunctions(void) {
    return import_pass(CM_FLAG_STARTUP_IMPORT | CM_FLAG_LATE_IMPORT);
}
