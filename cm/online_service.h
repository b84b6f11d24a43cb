/* What the online services of the logger and the settings share: the communication server,
 * tag writer and reader and user-management functions they find by name, and one request on
 * its way from the server's handler to its answer. A service exists only when the server and
 * the whole tag codec were found. */
#ifndef ONLINE_SERVICE_H
#define ONLINE_SERVICE_H

#include "optional_services.h"

namespace rts {

struct OnlineImports {
    decltype(&ServerRegisterServiceHandler) Register;
    decltype(&ServerUnRegisterServiceHandler) Unregister;
    decltype(&ServerFinishRequest) Finish;
    decltype(&BTagWriterInit) WriterInit;
    decltype(&BTagWriterStartTag) StartTag;
    decltype(&BTagWriterAppendBlob) AppendBlob;
    decltype(&BTagWriterEndTag) EndTag;
    decltype(&BTagWriterGetAvailableBuffer) GetAvailableBuffer;
    decltype(&BTagWriterCreateSavepoint) CreateSavepoint;
    decltype(&BTagWriterRestoreSavepoint) RestoreSavepoint;
    decltype(&BTagWriterFinish) WriterFinish;
    decltype(&BTagReaderInit) ReaderInit;
    decltype(&BTagReaderMoveNext) ReaderMoveNext;
    decltype(&UserMgrHasAccessRights) HasAccessRights;
    decltype(&UserMgrAddOnlineAccessError) AddOnlineAccessError;

    void import();
    bool present() const;
};

/* One request: the reader on its data, the writer on the answer buffer. */
class OnlineRequest {
public:
    /* RES_PARAMETER when the data is shorter than the header says or the answer buffer cannot
     * hold a tag; the request is then dropped without an answer. */
    RTS_RESULT begin(const OnlineImports* imports, RTS_UI32 channel, const ServerRequestHeader* header,
                     const ServerBuffer* request, const ServerBuffer* answer);
    /* When the user management refuses the right on the object, writes its refusal and sends
     * the answer; true then, and the request is done. */
    bool refused(const char* object, RTS_UI32 right);
    /* Finishes the writer and hands the answer to the server. */
    RTS_RESULT send();

    RTS_UI16 command() const { return command_; }
    RTS_UI32 session() const { return session_; }
    BTagReader& reader() { return reader_; }

    /* Writing: the tag writer's calls on this answer. */
    RTS_RESULT start(RTS_UI32 tag, RTS_UI32 flags) { return i_->StartTag(&writer_, tag, flags); }
    RTS_RESULT append(const void* data, RTS_UI32 size) { return i_->AppendBlob(&writer_, data, size); }
    RTS_RESULT end(RTS_UI32 tag) { return i_->EndTag(&writer_, tag); }
    RTS_RESULT tag(RTS_UI32 tag, RTS_UI32 flags, const void* data, RTS_UI32 size);
    RTS_RESULT tag(RTS_UI32 tag, RTS_UI32 flags, const void* data, RTS_UI32 size, const void* more,
                   RTS_UI32 moreSize);
    RTS_RESULT text(RTS_UI32 tag, RTS_UI32 flags, const char* text);
    /* A 16-bit result, followed by `size` bytes of `extra`. */
    RTS_RESULT status(RTS_UI32 tag, RTS_RESULT result, const void* extra = nullptr, RTS_UI32 size = 0);
    /* Where the next content byte goes and how much room is left. */
    RTS_UI32 room(RTS_UI8** pNext = nullptr);
    BTagSavepoint save();
    void restore(const BTagSavepoint& point) { i_->RestoreSavepoint(&writer_, &point); }
    BTagWriter* writer() { return &writer_; }

private:
    const OnlineImports* i_ = nullptr;
    RTS_UI32 channel_ = 0;
    RTS_UI16 command_ = 0;
    RTS_UI32 session_ = 0;
    ServerBuffer answer_{};
    BTagReader reader_{};
    BTagWriter writer_{};
};

/* The next tag of a reader: false at the end or at a tag that cannot be read. */
bool next_tag(const OnlineImports& imports, BTagReader& reader, BTagItem& item);
/* The u32 at the start of a tag's content (false when it holds fewer than 4 bytes). */
bool read_u32(const BTagItem& item, RTS_UI32& value);
/* A tag's text, cut at its first zero and to the buffer (terminated). */
void read_text(const BTagItem& item, char* buffer, RTS_SIZE size);

} // namespace rts

#endif
