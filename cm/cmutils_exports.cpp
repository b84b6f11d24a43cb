/* Utility library, export side: the table through which other components find the CMUtl*
 * functions by name, and the lower-case wrappers through which the control-language side calls
 * them with one parameter record. */
#include "cmutils.h"

extern "C" const CMExportEntry CMUtlExportTable[] = {
    CM_EXPORT(CMUtlSafeStrCpy),
    CM_EXPORT(CMUtlSafeStrCpy2),
    CM_EXPORT(CMUtlSafeStrNCpy),
    CM_EXPORT(CMUtlSafeStrCat),
    CM_EXPORT(CMUtlStrLen),
    CM_EXPORT(CMUtlStrNLen),
    CM_EXPORT(CMUtlStrICmp),
    CM_EXPORT(CMUtlStrNICmp),
    CM_EXPORT(CMUtlStrIStr),
    CM_EXPORT(CMUtlStrRChr),
    CM_EXPORT(CMUtlStrToLower),
    CM_EXPORT(CMUtlStrToUpper),
    CM_EXPORT(CMUtlStrlwr),
    CM_EXPORT(CMUtlStrupr),
    CM_EXPORT(CMUtlStrrev),
    CM_EXPORT(CMUtlSkipWhiteSpace),
    CM_EXPORT(CMUtlwstrlen),
    CM_EXPORT(CMUtlcwstrlen),
    CM_EXPORT(CMUtlwstrcpy),
    CM_EXPORT(CMUtlcwstrcpy),
    CM_EXPORT(CMUtlwstrncpy),
    CM_EXPORT(CMUtlcwstrncpy),
    CM_EXPORT(CMUtlwstrcat),
    CM_EXPORT(CMUtlcwstrcat),
    CM_EXPORT(CMUtlwstrcmp),
    CM_EXPORT(CMUtlcwstrcmp),
    CM_EXPORT(CMUtlwstrncmp),
    CM_EXPORT(CMUtlwstrchr),
    CM_EXPORT(CMUtlcwstrchr),
    CM_EXPORT(CMUtlwtolower),
    CM_EXPORT(CMUtlcwtolower),
    CM_EXPORT(CMUtlwtoupper),
    CM_EXPORT(CMUtlcwtoupper),
    CM_EXPORT(CMUtlStrToW),
    CM_EXPORT(CMUtlStrToCW),
    CM_EXPORT(CMUtlWToStr),
    CM_EXPORT(CMUtlCWToStr),
    CM_EXPORT(CMUtlUtf8ToW),
    CM_EXPORT(CMUtlWToUtf8),
    CM_EXPORT(CMUtlCheckUtf8Encoding),
    CM_EXPORT(CMUtlCheckUtf16Encoding),
    CM_EXPORT(CMUtlsnprintf),
    CM_EXPORT(CMUtlvsnprintf),
    CM_EXPORT(CMUtlGetBuildDate),
    CM_EXPORT(CMUtlsnprintf2),
    CM_EXPORT(CMUtlvsnprintf2),
    CM_EXPORT(CMUtlLtoa),
    CM_EXPORT(CMUtlUltoa),
    CM_EXPORT(CMUtlMemCpy),
    CM_EXPORT(CMUtlSafeMemCpy),
    CM_EXPORT(CMUtlSafeMemMove),
    CM_EXPORT(CMUtlVersionToString),
    CM_EXPORT(CMUtlStringToVersion),
    {nullptr, nullptr, 0, 0},
};

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
