// Our own versions of the services the program can work with but does not contain: a command
// shell, a communication server, a tag reader and writer, a user management, an event service
// and a device-package service, each a small
// component that exports the calls of include/optional_services.h. Tests and the developer
// shell start the framework with them beside the program's own list; the functions below drive
// them from outside, as a person at a shell or an online client would.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cm.h"
#include "optional_services.h"

namespace collab {

// The program's own component list followed by the collaborators (listed as system components,
// so their functions are there before any component imports).
std::vector<StaticComponent> component_list();

// Runs one command line through every registered handler and gives the collected answer; a
// command nobody registered answers "Unknown command: <name>\r\n", "help" lists the short
// helps.
std::string shell_run(const std::string& line);
// The commands registered now, in registration order.
std::vector<std::string> shell_commands();

// One request through the server: what the handler returned, whether it finished the request,
// and the answer it sent. An answer that claims more than the buffer held is cut to it and
// flagged.
struct Answer {
    RTS_RESULT result = RES_OK;
    bool sent = false;
    bool overrun = false;
    std::vector<std::uint8_t> bytes;
};
// RES_NO_OBJECT in result when no handler serves the group.
Answer server_request(RTS_UI16 group, RTS_UI16 command, RTS_UI32 session,
                      const std::vector<std::uint8_t>& data, RTS_UI32 answerSize, RTS_UI32 contentSize);
inline Answer server_request(RTS_UI16 group, RTS_UI16 command, RTS_UI32 session,
                             const std::vector<std::uint8_t>& data, RTS_UI32 answerSize = 4096) {
    return server_request(group, command, session, data, answerSize, static_cast<RTS_UI32>(data.size()));
}

// Refuses a right on an object to every session (until reset_rights).
void deny(const std::string& object, RTS_UI32 rights);
void reset_rights();
// The user-management objects that exist now.
std::vector<std::string> user_objects();

// The listener of a component's event (an empty function removes it); all of them. Posting an
// event as its component would.
void listen(RTS_UI32 cmpId, RTS_UI32 eventClass, std::function<void(void*)> listener);
void reset_listeners();
RTS_RESULT post(RTS_UI32 cmpId, RTS_UI32 eventClass, void* param);

// The device packages made so far: name, maker, files with their keys, closed or not.
struct Package {
    std::string name;
    RTS_UI32 cmpId;
    std::vector<std::pair<std::string, std::string>> files;
    bool closed;
};
std::vector<Package> packages();
void reset_packages();

// Builds requests and reads answers with the tag writer and reader.
class TagBuilder {
public:
    explicit TagBuilder(RTS_UI32 size = 4096);
    TagBuilder& open(RTS_UI32 tag);
    TagBuilder& close(RTS_UI32 tag);
    TagBuilder& u32(RTS_UI32 tag, RTS_UI32 value);
    TagBuilder& text(RTS_UI32 tag, const std::string& value);
    TagBuilder& blob(RTS_UI32 tag, const void* data, RTS_UI32 size);
    std::vector<std::uint8_t> bytes();

private:
    std::vector<std::uint8_t> buffer_;
    BTagWriter writer_{};
};

// One tag of an answer read back, its content and, for a container, its children.
struct Tag {
    RTS_UI32 id = 0;
    std::vector<std::uint8_t> content;
    std::vector<Tag> children;
    RTS_UI32 u16() const;
    RTS_UI32 u32(std::size_t offset = 0) const;
    std::string text(std::size_t offset = 0) const;
};
// The tags of a byte range; false when the range does not parse.
bool parse_tags(const std::vector<std::uint8_t>& bytes, std::vector<Tag>& tags);

} // namespace collab
