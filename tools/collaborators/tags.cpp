// The tag writer and reader (component "DevTags"): the writer fills a caller's buffer with
// nested tags, closing each by writing its content length into its header, and can go back to
// a save point; the reader walks the tags of one byte range. A failed write is remembered until
// the next save point is restored, so a caller may write a whole answer and check once.
#include <cstring>

#include "cm.h"
#include "collaborators.h"
#include "collaborators_internal.h"

namespace {

void put_u32(RTS_UI8* p, RTS_UI32 v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<RTS_UI8>(v >> (8 * i));
}

RTS_UI32 get_u32(const RTS_UI8* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<RTS_UI32>(p[3]) << 24;
}

RTS_UI32 room(const BTagWriter* w) {
    return w->size - w->pos;
}

RTS_RESULT fail(BTagWriter* w, RTS_RESULT r) {
    if (w->error == RES_OK) w->error = r;
    return r;
}

const CMExportEntry kExports[] = {
    CM_EXPORT(BTagWriterInit),
    CM_EXPORT(BTagWriterStartTag),
    CM_EXPORT(BTagWriterAppendBlob),
    CM_EXPORT(BTagWriterEndTag),
    CM_EXPORT(BTagWriterGetAvailableBuffer),
    CM_EXPORT(BTagWriterCreateSavepoint),
    CM_EXPORT(BTagWriterRestoreSavepoint),
    CM_EXPORT(BTagWriterFinish),
    CM_EXPORT(BTagReaderInit),
    CM_EXPORT(BTagReaderMoveNext),
    {nullptr, nullptr, 0, 0},
};

} // namespace

extern "C" RTS_RESULT BTagWriterInit(BTagWriter* pWriter, RTS_UI8* buffer, RTS_UI32 size) {
    if (pWriter == nullptr || buffer == nullptr || size < BTAG_HEADER_SIZE) return RES_PARAMETER;
    *pWriter = BTagWriter{};
    pWriter->buffer = buffer;
    pWriter->size = size;
    return RES_OK;
}

extern "C" RTS_RESULT BTagWriterStartTag(BTagWriter* pWriter, RTS_UI32 tagId, RTS_UI32 flags) {
    if (pWriter == nullptr) return RES_PARAMETER;
    if (pWriter->error != RES_OK) return pWriter->error;
    if (pWriter->depth == BTAG_MAX_DEPTH) return fail(pWriter, RES_OVERFLOW);
    if (room(pWriter) < BTAG_HEADER_SIZE) return fail(pWriter, RES_BUFFERSIZE);
    put_u32(pWriter->buffer + pWriter->pos, tagId);
    put_u32(pWriter->buffer + pWriter->pos + 4, 0);
    pWriter->open[pWriter->depth] = pWriter->pos;
    pWriter->flags[pWriter->depth++] = flags;
    pWriter->pos += BTAG_HEADER_SIZE;
    return RES_OK;
}

extern "C" RTS_RESULT BTagWriterAppendBlob(BTagWriter* pWriter, const void* data, RTS_UI32 size) {
    if (pWriter == nullptr || (data == nullptr && size != 0)) return RES_PARAMETER;
    if (pWriter->error != RES_OK) return pWriter->error;
    if (pWriter->depth == 0) return fail(pWriter, RES_INVALID_FORMAT);
    if (room(pWriter) < size) return fail(pWriter, RES_BUFFERSIZE);
    if (size != 0) std::memmove(pWriter->buffer + pWriter->pos, data, size);
    pWriter->pos += size;
    return RES_OK;
}

extern "C" RTS_RESULT BTagWriterEndTag(BTagWriter* pWriter, RTS_UI32 tagId) {
    if (pWriter == nullptr) return RES_PARAMETER;
    if (pWriter->error != RES_OK) return pWriter->error;
    if (pWriter->depth == 0) return fail(pWriter, RES_INVALID_FORMAT);
    const RTS_UI32 header = pWriter->open[pWriter->depth - 1];
    if (get_u32(pWriter->buffer + header) != tagId) return fail(pWriter, RES_INVALID_FORMAT);
    if ((pWriter->flags[pWriter->depth - 1] & BTAG_FLAG_ALIGN4) != 0) {
        const RTS_UI32 fill = (4 - (pWriter->pos - header) % 4) % 4;
        if (room(pWriter) < fill) return fail(pWriter, RES_BUFFERSIZE);
        std::memset(pWriter->buffer + pWriter->pos, 0, fill);
        pWriter->pos += fill;
    }
    put_u32(pWriter->buffer + header + 4, pWriter->pos - header - BTAG_HEADER_SIZE);
    --pWriter->depth;
    return RES_OK;
}

extern "C" RTS_RESULT BTagWriterGetAvailableBuffer(BTagWriter* pWriter, RTS_UI8** ppBuffer, RTS_UI32* pSize) {
    if (pWriter == nullptr || ppBuffer == nullptr || pSize == nullptr) return RES_PARAMETER;
    *ppBuffer = pWriter->buffer + pWriter->pos;
    *pSize = pWriter->error == RES_OK ? room(pWriter) : 0;
    return RES_OK;
}

extern "C" RTS_RESULT BTagWriterCreateSavepoint(BTagWriter* pWriter, BTagSavepoint* pSavepoint) {
    if (pWriter == nullptr || pSavepoint == nullptr) return RES_PARAMETER;
    *pSavepoint = BTagSavepoint{pWriter->pos, pWriter->depth};
    return RES_OK;
}

extern "C" RTS_RESULT BTagWriterRestoreSavepoint(BTagWriter* pWriter, const BTagSavepoint* pSavepoint) {
    if (pWriter == nullptr || pSavepoint == nullptr || pSavepoint->pos > pWriter->pos ||
        pSavepoint->depth > pWriter->depth)
        return RES_PARAMETER;
    pWriter->pos = pSavepoint->pos;
    pWriter->depth = pSavepoint->depth;
    pWriter->error = RES_OK;
    return RES_OK;
}

extern "C" RTS_RESULT BTagWriterFinish(BTagWriter* pWriter, RTS_UI32* pSize) {
    if (pWriter == nullptr) return RES_PARAMETER;
    while (pWriter->error == RES_OK && pWriter->depth > 0)
        BTagWriterEndTag(pWriter, get_u32(pWriter->buffer + pWriter->open[pWriter->depth - 1]));
    if (pSize != nullptr) *pSize = pWriter->pos;
    return pWriter->error;
}

extern "C" RTS_RESULT BTagReaderInit(BTagReader* pReader, const RTS_UI8* data, RTS_UI32 size) {
    if (pReader == nullptr || (data == nullptr && size != 0)) return RES_PARAMETER;
    *pReader = BTagReader{data, size, 0};
    return RES_OK;
}

extern "C" RTS_RESULT BTagReaderMoveNext(BTagReader* pReader, BTagItem* pItem) {
    if (pReader == nullptr || pItem == nullptr) return RES_PARAMETER;
    const RTS_UI32 left = pReader->size - pReader->pos;
    if (left == 0) return RES_NOMOREENTRIES;
    if (left < BTAG_HEADER_SIZE) return RES_INVALID_FORMAT;
    const RTS_UI8* header = pReader->data + pReader->pos;
    const RTS_UI32 length = get_u32(header + 4);
    if (length > left - BTAG_HEADER_SIZE) return RES_INVALID_FORMAT;
    *pItem = BTagItem{get_u32(header), header + BTAG_HEADER_SIZE, length};
    pReader->pos += BTAG_HEADER_SIZE + length;
    return RES_OK;
}

namespace collab {

RTS_RESULT DevTags__Entry(ComponentInitRecord* pInit) {
    return entry<kTagsCmpId, kExports>(pInit);
}

TagBuilder::TagBuilder(RTS_UI32 size) : buffer_(size) {
    BTagWriterInit(&writer_, buffer_.data(), size);
}

TagBuilder& TagBuilder::open(RTS_UI32 tag) {
    BTagWriterStartTag(&writer_, tag, BTAG_FLAG_ALIGN4);
    return *this;
}

TagBuilder& TagBuilder::close(RTS_UI32 tag) {
    BTagWriterEndTag(&writer_, tag);
    return *this;
}

TagBuilder& TagBuilder::blob(RTS_UI32 tag, const void* data, RTS_UI32 size) {
    BTagWriterStartTag(&writer_, tag, 0);
    BTagWriterAppendBlob(&writer_, data, size);
    return close(tag);
}

TagBuilder& TagBuilder::u32(RTS_UI32 tag, RTS_UI32 value) {
    RTS_UI8 bytes[4];
    put_u32(bytes, value);
    return blob(tag, bytes, 4);
}

// A text with its terminating zero, filled up to a multiple of 4.
TagBuilder& TagBuilder::text(RTS_UI32 tag, const std::string& value) {
    BTagWriterStartTag(&writer_, tag, BTAG_FLAG_ALIGN4);
    BTagWriterAppendBlob(&writer_, value.c_str(), static_cast<RTS_UI32>(value.size() + 1));
    return close(tag);
}

std::vector<std::uint8_t> TagBuilder::bytes() {
    RTS_UI32 size = 0;
    BTagWriterFinish(&writer_, &size);
    return {buffer_.begin(), buffer_.begin() + size};
}

RTS_UI32 Tag::u16() const {
    return content.size() < 2 ? 0xFFFFFFFFu : content[0] | content[1] << 8;
}

RTS_UI32 Tag::u32(std::size_t offset) const {
    return content.size() < offset + 4 ? 0xFFFFFFFFu : get_u32(content.data() + offset);
}

std::string Tag::text(std::size_t offset) const {
    if (offset >= content.size()) return {};
    const char* start = reinterpret_cast<const char*>(content.data() + offset);
    return std::string(start, strnlen(start, content.size() - offset));
}

bool parse_tags(const std::vector<std::uint8_t>& bytes, std::vector<Tag>& tags) {
    BTagReader reader;
    BTagReaderInit(&reader, bytes.data(), static_cast<RTS_UI32>(bytes.size()));
    BTagItem item;
    RTS_RESULT r;
    while ((r = BTagReaderMoveNext(&reader, &item)) == RES_OK) {
        Tag tag{item.tagId, {item.content, item.content + item.size}, {}};
        if (item.tagId >= 128 && !parse_tags(tag.content, tag.children)) return false;
        tags.push_back(std::move(tag));
    }
    return r == RES_NOMOREENTRIES;
}

} // namespace collab
