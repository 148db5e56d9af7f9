#include "xml/sdCodecStreams.h"

#include "platform/CodePage.h"

#include <algorithm>

namespace xml {

const TsdSignature Signatures[SignatureCount] = {
    {{0x00, 0x00, 0xFE, 0xFF}, 4, ekUcs4_1234, true},
    {{0xFF, 0xFE, 0x00, 0x00}, 4, ekUcs4_4321, true},
    {{0x00, 0x00, 0xFF, 0xFE}, 4, ekUcs4_2143, true},
    {{0xFE, 0xFF, 0x00, 0x00}, 4, ekUcs4_3412, true},
    {{0xFE, 0xFF}, 2, ekUtf16BigEndian, true},
    {{0xFF, 0xFE}, 2, ekUtf16LittleEndian, true},
    {{0xEF, 0xBB, 0xBF}, 3, ekUtf8, true},
    {{0x00, 0x00, 0x00, 0x3C}, 4, ekUcs4_1234, false},
    {{0x3C, 0x00, 0x00, 0x00}, 4, ekUcs4_4321, false},
    {{0x00, 0x00, 0x3C, 0x00}, 4, ekUcs4_2143, false},
    {{0x00, 0x3C, 0x00, 0x00}, 4, ekUcs4_3412, false},
    {{0x00, 0x3C, 0x00, 0x3F}, 4, ekUtf16BigEndian, false},
    {{0x3C, 0x00, 0x3F, 0x00}, 4, ekUtf16LittleEndian, false},
    {{0x3C, 0x3F, 0x78, 0x6D}, 4, ekAnsi, false},
    {{0x4C, 0x6F, 0xA7, 0x94}, 4, ekEbcdic, false},
};

namespace {

const char* const UnsupportedEncoding = "Unsupported string encoding";

bool refusedForReading(TsdEncodingKind kind) {
    return kind == ekUcs4_1234 || kind == ekUcs4_2143 || kind == ekUcs4_3412 || kind == ekEbcdic;
}

bool refusedForWriting(TsdEncodingKind kind) {
    // UCS-4 of any order has no writer either.
    return refusedForReading(kind) || kind == ekUcs4_4321;
}

bool isByteKind(TsdEncodingKind kind) { return kind == ekAnsi || kind == ekUtf8; }

bool isBigEndian16(TsdEncodingKind kind) { return kind == ekUcs2BigEndian || kind == ekUtf16BigEndian; }

bool is16Bit(TsdEncodingKind kind) {
    return kind == ekUcs2BigEndian || kind == ekUcs2LittleEndian || kind == ekUtf16BigEndian ||
           kind == ekUtf16LittleEndian;
}

int64_t readFully(TStream& s, char* p, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        const int64_t n = s.Read(p + total, count - total);
        if (n <= 0) break;
        total += n;
    }
    return total;
}


}  // namespace

TsdBufferedReadStream::TsdBufferedReadStream(TStream* source, bool owned)
    : source_(source), owned_(owned), page_(new char[BufferPageSize]), pos_(source ? source->position() : 0) {}

TsdBufferedReadStream::~TsdBufferedReadStream() {
    if (owned_) delete source_;
}

int64_t TsdBufferedReadStream::Read(void* buffer, int64_t count) {
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        int64_t length = 0;
        const char* p = window(length);
        if (!p) {
            if (!loadPage()) break;
            continue;
        }
        const int64_t n = std::min(length, count - done);
        std::memcpy(out + done, p, static_cast<size_t>(n));
        pos_ += n;
        done += n;
    }
    return done;
}

int64_t TsdBufferedReadStream::Write(const void*, int64_t) {
    throw EsdStreamError("Cannot write to an UTF stream opened for reading");
}

int64_t TsdBufferedReadStream::Seek(int64_t offset, SeekOrigin origin) {
    int64_t base = 0;
    if (origin == SeekOrigin::Current) base = pos_;
    if (origin == SeekOrigin::End) base = size();
    pos_ = std::max<int64_t>(base + offset, 0);
    return pos_;
}

int64_t TsdBufferedReadStream::size() {
    if (size_ < 0) size_ = source_ ? source_->size() : 0;
    return size_;
}

bool TsdBufferedReadStream::loadPage() {
    if (!source_ || pos_ >= size()) return false;
    pageStart_ = pos_ - pos_ % BufferPageSize;
    // Reading on from the page before needs no seek.
    if (pageStart_ != sourcePos_) source_->Seek(pageStart_, SeekOrigin::Beginning);
    sourcePos_ = -1;
    pageLength_ = readFully(*source_, page_.get(), std::min(BufferPageSize, size() - pageStart_));
    sourcePos_ = pageStart_ + pageLength_;
    return pos_ - pageStart_ < pageLength_;
}

bool TsdBufferedReadStream::readByteSlow(char& c) {
    if (!loadPage()) return false;
    c = page_[pos_ - pageStart_];
    ++pos_;
    return true;
}

TsdBufferedWriteStream::TsdBufferedWriteStream(TStream* target, bool owned)
    : target_(target), owned_(owned), buffer_(new char[BufferPageSize]),
      flushedPos_(target ? target->position() : 0) {}

TsdBufferedWriteStream::~TsdBufferedWriteStream() {
    try {
        flush();
    } catch (...) {
    }
    if (owned_) delete target_;
}

int64_t TsdBufferedWriteStream::Read(void*, int64_t) {
    throw EsdStreamError("Cannot read from a conversion stream opened for writing");
}

int64_t TsdBufferedWriteStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    writeBytes(static_cast<const char*>(buffer), count);
    return count;
}

int64_t TsdBufferedWriteStream::Seek(int64_t, SeekOrigin) { throw EsdStreamError("Cannot perform seek on codec stream"); }

void TsdBufferedWriteStream::flush() {
    if (fill_ == 0) return;
    if (!target_) throw EsdStreamError("Cannot write to output stream");
    const int64_t n = fill_;
    fill_ = 0;
    target_->writeAll(buffer_.get(), n);
    flushedPos_ += n;
}

void TsdBufferedWriteStream::writeBytesSlow(const char* p, int64_t n) {
    while (n > 0) {
        const int64_t part = std::min(n, BufferPageSize - fill_);
        std::memcpy(buffer_.get() + fill_, p, static_cast<size_t>(part));
        fill_ += part;
        p += part;
        n -= part;
        if (fill_ == BufferPageSize) flush();
    }
}

TsdCodecStream::TsdCodecStream(TStream* stream)
    : stream_(stream), bufferedIn_(dynamic_cast<TsdBufferedReadStream*>(stream)),
      bufferedOut_(dynamic_cast<TsdBufferedWriteStream*>(stream)) {}

void TsdCodecStream::updateDirect() {
    direct_ = state_ == State::Reading && bytesPassThrough_ && isByteKind(kind_) ? bufferedIn_ : nullptr;
    const bool passOut = kind_ == ekAnsi || (kind_ == ekUtf8 && utf8Values_);
    directOut_ = state_ == State::Writing && bytesPassThrough_ && passOut ? bufferedOut_ : nullptr;
}

void TsdCodecStream::setEncodingKind(TsdEncodingKind kind) {
    kind_ = kind;
    updateDirect();
}

void TsdCodecStream::beginRead() {
    if (!stream_) throw EsdStreamError("Encoding stream unassigned");
    if (state_ == State::Writing) throw EsdStreamError("Cannot read from a conversion stream opened for writing");
    if (state_ == State::Fresh) startReading();
}

void TsdCodecStream::startReading() {
    const int64_t start = stream_->position();
    unsigned char head[4] = {};
    const int64_t count = readFully(*stream_, reinterpret_cast<char*>(head), 4);
    const TsdSignature* found = nullptr;
    for (const TsdSignature& row : Signatures) {
        const int n = static_cast<int>(std::min<int64_t>(row.length, count));
        if (std::memcmp(row.bytes, head, static_cast<size_t>(n)) == 0) {
            found = &row;
            break;
        }
    }
    const TsdEncodingKind kind = found ? found->kind : ekAnsi;
    if (refusedForReading(kind)) throw EsdStreamError(UnsupportedEncoding);
    stream_->Seek(start + (found && found->isMark ? found->length : 0), SeekOrigin::Beginning);
    kind_ = kind;
    state_ = State::Reading;
    prev1_ = prev2_ = stream_->position();
    updateDirect();
}

bool TsdCodecStream::getCharSlow(char& c) {
    beginRead();
    if (direct_) return getChar(c);
    StorePrevPositions();
    return ReadChar(c);
}

int64_t TsdCodecStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (count > 1) throw EsdStreamError("Cannot read multiple chars from conversion stream at once");
    return getChar(*static_cast<char*>(buffer)) ? 1 : 0;
}

void TsdCodecStream::startWriting() {
    if (refusedForWriting(kind_)) throw EsdStreamError(UnsupportedEncoding);
    for (const TsdSignature& row : Signatures) {
        if (row.kind != kind_) continue;
        if (row.isMark) stream_->writeAll(row.bytes, row.length);
        break;
    }
    state_ = State::Writing;
    updateDirect();
}

int64_t TsdCodecStream::Write(const void* buffer, int64_t count) {
    if (!stream_) throw EsdStreamError("Encoding stream unassigned");
    if (state_ == State::Reading) throw EsdStreamError("Cannot write to an UTF stream opened for reading");
    if (state_ == State::Fresh) startWriting();
    if (count <= 0) return 0;
    WriteBuf(static_cast<const char*>(buffer), count);
    return count;
}

int64_t TsdCodecStream::Seek(int64_t offset, SeekOrigin origin) {
    if (state_ == State::Fresh) throw EsdStreamError("Cannot seek before reading or writing in conversion stream");
    if (origin == SeekOrigin::Current && offset == 0) return position();
    if (state_ == State::Reading && origin == SeekOrigin::Current && (offset == -1 || offset == -2)) {
        const int64_t target = offset == -1 ? prev1_ : prev2_;
        stream_->Seek(target, SeekOrigin::Beginning);
        // Only the start of the character before the last one is still known.
        prev1_ = offset == -1 ? prev2_ : target;
        prev2_ = prev1_;
        return target;
    }
    throw EsdStreamError("Cannot perform seek on codec stream");
}

int64_t TsdCodecStream::position() { return stream_ ? stream_->position() : 0; }

int64_t TsdCodecStream::size() { return stream_ ? stream_->size() : 0; }

bool TsdCodecStream::ReadChar(char&) { return false; }

void TsdCodecStream::StorePrevPositions() {
    prev2_ = prev1_;
    prev1_ = stream_->position();
}

void TsdCodecStream::WriteChar(char) {}

void TsdCodecStream::WriteBuf(const char* p, int64_t n) {
    for (int64_t i = 0; i < n; ++i) WriteChar(p[i]);
}

bool TsdCodecStream::readUnit(uint16_t& unit) {
    char b[2];
    if (readFully(*stream_, b, 2) < 2) return false;
    const auto b0 = static_cast<unsigned char>(b[0]);
    const auto b1 = static_cast<unsigned char>(b[1]);
    unit = isBigEndian16(kind_) ? static_cast<uint16_t>(b0 << 8 | b1) : static_cast<uint16_t>(b1 << 8 | b0);
    return true;
}

void TsdCodecStream::writeUnit(uint16_t unit) {
    char b[2];
    if (isBigEndian16(kind_)) {
        b[0] = static_cast<char>(unit >> 8);
        b[1] = static_cast<char>(unit & 0xFF);
    } else {
        b[0] = static_cast<char>(unit & 0xFF);
        b[1] = static_cast<char>(unit >> 8);
    }
    stream_->writeAll(b, 2);
}

void TsdCodecStream::signalCharLoss() {
    if (charLossSignalled_) return;
    charLossSignalled_ = true;
    if (OnCharLoss) OnCharLoss(*this);
}

TsdAnsiStream::TsdAnsiStream(TStream* stream) : TsdCodecStream(stream) { bytesPassThrough_ = true; }

bool TsdAnsiStream::ReadChar(char& c) {
    if (isByteKind(kind_)) return stream_->Read(&c, 1) == 1;
    if (!is16Bit(kind_)) throw EsdStreamError(UnsupportedEncoding);
    uint16_t unit = 0;
    if (!readUnit(unit)) return false;
    unsigned char byte = 0;
    if (platform::unicodeToByte(unit, byte)) {
        c = static_cast<char>(byte);
    } else {
        c = '?';
        signalCharLoss();
    }
    return true;
}

void TsdAnsiStream::WriteChar(char c) { WriteBuf(&c, 1); }

void TsdAnsiStream::WriteBuf(const char* p, int64_t n) {
    if (kind_ == ekAnsi) {
        stream_->writeAll(p, n);
    } else if (kind_ == ekUtf8) {
        stream_->writeAll(platform::toUtf8(std::string_view(p, static_cast<size_t>(n))));
    } else {
        for (int64_t i = 0; i < n; ++i)
            writeUnit(static_cast<uint16_t>(platform::byteToUnicode(static_cast<unsigned char>(p[i]))));
    }
}

TsdUtf8Stream::TsdUtf8Stream(TStream* stream) : TsdCodecStream(stream) {
    bytesPassThrough_ = true;
    utf8Values_ = true;
}

bool TsdUtf8Stream::ReadChar(char& c) {
    if (pendingPos_ < pendingCount_) {
        c = pending_[pendingPos_++];
        return true;
    }
    if (isByteKind(kind_)) return stream_->Read(&c, 1) == 1;
    if (!is16Bit(kind_)) throw EsdStreamError(UnsupportedEncoding);
    uint16_t unit = 0;
    if (!readUnit(unit)) return false;
    std::string bytes;
    platform::appendUtf8(bytes, unit);
    c = bytes[0];
    pendingCount_ = static_cast<int>(bytes.size()) - 1;
    pendingPos_ = 0;
    for (int i = 0; i < pendingCount_; ++i) pending_[i] = bytes[static_cast<size_t>(i) + 1];
    return true;
}

void TsdUtf8Stream::StorePrevPositions() {
    // The rest of a multi-byte character shares the start of its first byte.
    if (pendingPos_ < pendingCount_) return;
    TsdCodecStream::StorePrevPositions();
}

int64_t TsdUtf8Stream::Seek(int64_t offset, SeekOrigin origin) {
    const int64_t result = TsdCodecStream::Seek(offset, origin);
    if (offset != 0) pendingCount_ = pendingPos_ = 0;
    return result;
}

void TsdUtf8Stream::WriteChar(char c) { WriteBuf(&c, 1); }

void TsdUtf8Stream::WriteBuf(const char* p, int64_t n) {
    if (isByteKind(kind_)) {
        stream_->writeAll(p, n);
        return;
    }
    // UTF-8 to 16-bit units; a sequence may be split across writes.
    partial_.append(p, static_cast<size_t>(n));
    size_t i = 0;
    while (i < partial_.size()) {
        const auto lead = static_cast<unsigned char>(partial_[i]);
        const size_t len = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (len == 0) {
            writeUnit('?');
            signalCharLoss();
            ++i;
            continue;
        }
        if (i + len > partial_.size()) break;
        uint32_t code = len == 1 ? lead : lead & (0x7F >> len);
        bool valid = true;
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(partial_[i + k]);
            if ((b & 0xC0) != 0x80) valid = false;
            code = code << 6 | (b & 0x3F);
        }
        if (!valid) {
            writeUnit('?');
            signalCharLoss();
            ++i;
            continue;
        }
        if (code > 0xFFFF) {
            code -= 0x10000;
            writeUnit(static_cast<uint16_t>(0xD800 + (code >> 10)));
            writeUnit(static_cast<uint16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            writeUnit(static_cast<uint16_t>(code));
        }
        i += len;
    }
    partial_.erase(0, i);
}

}  // namespace xml
