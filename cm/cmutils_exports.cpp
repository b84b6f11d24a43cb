/* Utility library, export side: the table through which other components find the CMUtl*
 * functions by name, and the lower-case wrappers through which the control-language side calls
 * them with one parameter record. */
#include "cmutils.h"

#define CMUTL_EXPORT(name)                                                                                   \
    { reinterpret_cast<RTS_VOID_FCTPTR>(name), #name, 0, 0 }

extern "C" const CMExportEntry CMUtlExportTable[] = {
    CMUTL_EXPORT(CMUtlSafeStrCpy),
    CMUTL_EXPORT(CMUtlSafeStrCpy2),
    CMUTL_EXPORT(CMUtlSafeStrNCpy),
    CMUTL_EXPORT(CMUtlSafeStrCat),
    CMUTL_EXPORT(CMUtlStrLen),
    CMUTL_EXPORT(CMUtlStrNLen),
    CMUTL_EXPORT(CMUtlStrICmp),
    CMUTL_EXPORT(CMUtlStrNICmp),
    CMUTL_EXPORT(CMUtlStrIStr),
    CMUTL_EXPORT(CMUtlStrRChr),
    CMUTL_EXPORT(CMUtlStrToLower),
    CMUTL_EXPORT(CMUtlStrToUpper),
    CMUTL_EXPORT(CMUtlStrlwr),
    CMUTL_EXPORT(CMUtlStrupr),
    CMUTL_EXPORT(CMUtlStrrev),
    CMUTL_EXPORT(CMUtlSkipWhiteSpace),
    CMUTL_EXPORT(CMUtlwstrlen),
    CMUTL_EXPORT(CMUtlcwstrlen),
    CMUTL_EXPORT(CMUtlwstrcpy),
    CMUTL_EXPORT(CMUtlcwstrcpy),
    CMUTL_EXPORT(CMUtlwstrncpy),
    CMUTL_EXPORT(CMUtlcwstrncpy),
    CMUTL_EXPORT(CMUtlwstrcat),
    CMUTL_EXPORT(CMUtlcwstrcat),
    CMUTL_EXPORT(CMUtlwstrcmp),
    CMUTL_EXPORT(CMUtlcwstrcmp),
    CMUTL_EXPORT(CMUtlwstrncmp),
    CMUTL_EXPORT(CMUtlwstrchr),
    CMUTL_EXPORT(CMUtlcwstrchr),
    CMUTL_EXPORT(CMUtlwtolower),
    CMUTL_EXPORT(CMUtlcwtolower),
    CMUTL_EXPORT(CMUtlwtoupper),
    CMUTL_EXPORT(CMUtlcwtoupper),
    CMUTL_EXPORT(CMUtlStrToW),
    CMUTL_EXPORT(CMUtlStrToCW),
    CMUTL_EXPORT(CMUtlWToStr),
    CMUTL_EXPORT(CMUtlCWToStr),
    CMUTL_EXPORT(CMUtlUtf8ToW),
    CMUTL_EXPORT(CMUtlWToUtf8),
    CMUTL_EXPORT(CMUtlCheckUtf8Encoding),
    CMUTL_EXPORT(CMUtlCheckUtf16Encoding),
    CMUTL_EXPORT(CMUtlsnprintf),
    CMUTL_EXPORT(CMUtlvsnprintf),
    CMUTL_EXPORT(CMUtlGetBuildDate),
    CMUTL_EXPORT(CMUtlsnprintf2),
    CMUTL_EXPORT(CMUtlvsnprintf2),
    CMUTL_EXPORT(CMUtlLtoa),
    CMUTL_EXPORT(CMUtlUltoa),
    CMUTL_EXPORT(CMUtlMemCpy),
    CMUTL_EXPORT(CMUtlSafeMemCpy),
    CMUTL_EXPORT(CMUtlSafeMemMove),
    CMUTL_EXPORT(CMUtlVersionToString),
    CMUTL_EXPORT(CMUtlStringToVersion),
    {nullptr, nullptr, 0, 0},
};

#undef CMUTL_EXPORT

extern "C" void cmutlsafestrcpy(CMUtlSafeStrCpyParams* p) {
    if (p != nullptr) p->result = CMUtlSafeStrCpy(p->dest, p->size, p->source);
}

extern "C" void cmutlstricmp(CMUtlStrICmpParams* p) {
    if (p != nullptr) p->result = CMUtlStrICmp(p->s1, p->s2);
}

extern "C" void cmutlwstrcpy(CMUtlWStrCpyParams* p) {
    if (p != nullptr) p->result = CMUtlwstrcpy(p->dest, p->size, p->source);
}

extern "C" void cmutlcwstrcpy(CMUtlWStrCpyParams* p) {
    if (p != nullptr) p->result = CMUtlcwstrcpy(p->dest, p->size, p->source);
}

extern "C" void cmutlutf8tow(CMUtlUtf8ToWParams* p) {
    if (p != nullptr) p->result = CMUtlUtf8ToW(p->source, p->sourceLength, p->dest, p->destSize);
}

extern "C" void cmutlwtoutf8(CMUtlWToUtf8Params* p) {
    if (p != nullptr) p->result = CMUtlWToUtf8(p->source, p->sourceLength, p->dest, p->destSize);
}
