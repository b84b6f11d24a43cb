// Fuzz target for the online log and settings services: random request bytes go through our
// server into group 5 or 6 with a random command, session and answer size. A request must get
// a status answer that the tag reader can walk, or RES_PARAMETER, or the unknown-command value,
// never a crash or an answer past its buffer.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "collaborators.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// The framework with the collaborators, started once and kept for the whole run.
void start_once() {
    static std::vector<StaticComponent> list = collab::component_list();
    static const bool started = CMInit2(nullptr, list.data(), 1) == RES_OK;
    check(started);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_once();
    if (size < 4) return 0;
    const RTS_UI16 group = (data[0] & 1) != 0 ? 6 : 5;
    const RTS_UI16 command = data[1] % 10;
    const RTS_UI32 answerSize = data[2] * 4u;
    const RTS_UI32 contentSize = static_cast<RTS_UI32>(size - 4) + (data[3] == 0xFF ? 1 : 0);
    const std::vector<std::uint8_t> request(data + 4, data + size);
    collab::Answer a = collab::server_request(group, command, data[3], request, answerSize, contentSize);
    check(!a.overrun && a.bytes.size() <= answerSize);
    if (a.result == RES_PARAMETER || a.result == 0x302) return check(!a.sent), 0;
    check(a.result == RES_OK);
    std::vector<collab::Tag> tags;
    check(!a.sent || collab::parse_tags(a.bytes, tags));
    return 0;
}
