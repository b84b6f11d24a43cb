/* The request handling the online services share: the lookup of the server, codec and user
 * management, the checks every request passes before its command runs, and the tag helpers. */
#include "cm/online_service.h"

#include <cstring>

#include "cm/optional_import.h"

namespace rts {

void OnlineImports::import() {
    import_optional("ServerRegisterServiceHandler", Register);
    import_optional("ServerUnRegisterServiceHandler", Unregister);
    import_optional("ServerFinishRequest", Finish);
    import_optional("BTagWriterInit", WriterInit);
    import_optional("BTagWriterStartTag", StartTag);
    import_optional("BTagWriterAppendBlob", AppendBlob);
    import_optional("BTagWriterEndTag", EndTag);
    import_optional("BTagWriterGetAvailableBuffer", GetAvailableBuffer);
    import_optional("BTagWriterCreateSavepoint", CreateSavepoint);
    import_optional("BTagWriterRestoreSavepoint", RestoreSavepoint);
    import_optional("BTagWriterFinish", WriterFinish);
    import_optional("BTagReaderInit", ReaderInit);
    import_optional("BTagReaderMoveNext", ReaderMoveNext);
    import_optional("UserMgrHasAccessRights", HasAccessRights);
    import_optional("UserMgrAddOnlineAccessError", AddOnlineAccessError);
}

bool OnlineImports::present() const {
    return Register != nullptr && Unregister != nullptr && Finish != nullptr && WriterInit != nullptr &&
           StartTag != nullptr && AppendBlob != nullptr && EndTag != nullptr &&
           GetAvailableBuffer != nullptr && CreateSavepoint != nullptr && RestoreSavepoint != nullptr &&
           WriterFinish != nullptr && ReaderInit != nullptr && ReaderMoveNext != nullptr;
}

RTS_RESULT OnlineRequest::begin(const OnlineImports* imports, RTS_UI32 channel,
                                const ServerRequestHeader* header, const ServerBuffer* request,
                                const ServerBuffer* answer) {
    if (header == nullptr || request == nullptr || answer == nullptr || request->size < header->contentSize)
        return RES_PARAMETER;
    i_ = imports;
    channel_ = channel;
    command_ = header->command;
    session_ = header->sessionId;
    answer_ = *answer;
    if (i_->WriterInit(&writer_, answer->pData, answer->size) != RES_OK) return RES_PARAMETER;
    return i_->ReaderInit(&reader_, request->pData, header->contentSize) == RES_OK ? RES_OK : RES_PARAMETER;
}

bool OnlineRequest::refused(const char* object, RTS_UI32 right) {
    if (i_->HasAccessRights == nullptr || i_->HasAccessRights(object, session_, right) == RES_OK)
        return false;
    if (i_->AddOnlineAccessError != nullptr) i_->AddOnlineAccessError(&writer_, object, right, session_);
    send();
    return true;
}

RTS_RESULT OnlineRequest::send() {
    RTS_UI32 size = 0;
    i_->WriterFinish(&writer_, &size);
    ServerBuffer answer{answer_.pData, size};
    return i_->Finish(channel_, &answer);
}

RTS_RESULT OnlineRequest::tag(RTS_UI32 id, RTS_UI32 flags, const void* data, RTS_UI32 size) {
    return tag(id, flags, data, size, nullptr, 0);
}

// A tag that does not fit is left out whole, so the answer stays readable.
RTS_RESULT OnlineRequest::tag(RTS_UI32 id, RTS_UI32 flags, const void* data, RTS_UI32 size, const void* more,
                              RTS_UI32 moreSize) {
    const BTagSavepoint point = save();
    start(id, flags);
    append(data, size);
    if (moreSize != 0) append(more, moreSize);
    const RTS_RESULT r = end(id);
    if (r != RES_OK) restore(point);
    return r;
}

RTS_RESULT OnlineRequest::text(RTS_UI32 id, RTS_UI32 flags, const char* value) {
    return tag(id, flags, value, static_cast<RTS_UI32>(std::strlen(value) + 1));
}

RTS_RESULT OnlineRequest::status(RTS_UI32 id, RTS_RESULT result, const void* extra, RTS_UI32 size) {
    constexpr RTS_UI32 kStatusFlags = 0x20004;
    const RTS_UI16 value = static_cast<RTS_UI16>(result);
    return tag(id, kStatusFlags, &value, sizeof value, extra, size);
}

RTS_UI32 OnlineRequest::room(RTS_UI8** pNext) {
    RTS_UI8* next = nullptr;
    RTS_UI32 size = 0;
    i_->GetAvailableBuffer(&writer_, &next, &size);
    if (pNext != nullptr) *pNext = next;
    return size;
}

BTagSavepoint OnlineRequest::save() {
    BTagSavepoint point{};
    i_->CreateSavepoint(&writer_, &point);
    return point;
}

bool next_tag(const OnlineImports& imports, BTagReader& reader, BTagItem& item) {
    return imports.ReaderMoveNext(&reader, &item) == RES_OK;
}

bool read_u32(const BTagItem& item, RTS_UI32& value) {
    if (item.size < sizeof value) return false;
    std::memcpy(&value, item.content, sizeof value);
    return true;
}

void read_text(const BTagItem& item, char* buffer, RTS_SIZE size) {
    RTS_SIZE n = 0;
    while (n < item.size && n + 1 < size && item.content[n] != 0) ++n;
    std::memcpy(buffer, item.content, n);
    buffer[n] = '\0';
}

} // namespace rts
