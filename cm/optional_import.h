/* The lookup of an optional service's function by name: a function nobody exports leaves the
 * target empty and logs nothing. The target's type is the prototype the service is declared
 * with, so the name and the type are checked together. */
#ifndef OPTIONAL_IMPORT_H
#define OPTIONAL_IMPORT_H

#include "cm.h"
#include "optional_services.h"

namespace rts {

template <typename F> void import_optional(const char* name, F& target) {
    RTS_VOID_FCTPTR f = nullptr;
    CMGetAPI2(name, &f, CM_IMPORT_OPTIONAL, 0, 0);
    target = reinterpret_cast<F>(f);
}

/* The three functions of a command shell; a component offers its commands only when all are
 * there. */
struct ShellImports {
    decltype(&PlcShellRegister) Register;
    decltype(&PlcShellUnregister) Unregister;
    decltype(&PlcShellAppend) Append;
    void import() {
        import_optional("PlcShellRegister", Register);
        import_optional("PlcShellUnregister", Unregister);
        import_optional("PlcShellAppend", Append);
    }
    bool present() const { return Register != nullptr && Unregister != nullptr && Append != nullptr; }
};

} // namespace rts

#endif
