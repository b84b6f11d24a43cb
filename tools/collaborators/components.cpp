// The list that starts the framework with the collaborators beside the program's components.
#include "collaborators.h"
#include "collaborators_internal.h"

namespace collab {

std::vector<StaticComponent> component_list() {
    std::vector<StaticComponent> list;
    for (const StaticComponent* c = StaticComponentList; c->name != nullptr; ++c) list.push_back(*c);
    list.push_back({"DevShell", DevShell__Entry, 1});
    list.push_back({"DevServer", DevServer__Entry, 1});
    list.push_back({"DevTags", DevTags__Entry, 1});
    list.push_back({"DevUserMgr", DevUserMgr__Entry, 1});
    list.push_back({"DevEvents", DevEvents__Entry, 1});
    list.push_back({"DevPackages", DevPackages__Entry, 1});
    list.push_back({nullptr, nullptr, 0});
    return list;
}

} // namespace collab
