/* The desktop in use: the platform's unless a test has put another one in its place. */
#include "desktop.h"

namespace desktop {

namespace {

Desktop* g_replacement = nullptr;

} // namespace

Desktop& current() {
    return g_replacement != nullptr ? *g_replacement : platform();
}

void use(Desktop* desktop) {
    g_replacement = desktop;
}

} // namespace desktop
