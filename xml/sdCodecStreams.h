#pragma once
// Buffered and encoding-aware streams. The reader pulls one character at a time, so the byte
// kinds (8-bit and UTF-8) over a buffered read stream take an inline path that costs neither a
// virtual call nor a system call per character.
#include "xml/sdStreams.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

namespace xml {

enum TsdEncodingKind : uint8_t {
    ekAnsi = 0,
    ekUcs4_1234 = 1,
    ekUcs4_4321 = 2,
    ekUcs4_2143 = 3,
    ekUcs4_3412 = 4,
    ekUcs2BigEndian = 5,
    ekUcs2LittleEndian = 6,
    ekUtf8 = 7,
    ekUtf16BigEndian = 8,
    ekUtf16LittleEndian = 9,
    ekEbcdic = 10
};

struct TsdSignature {
    unsigned char bytes[4];
    int length;
    TsdEncodingKind kind;
    bool isMark;
};
inline constexpr int SignatureCount = 15;
extern const TsdSignature Signatures[SignatureCount];

inline constexpr int64_t BufferPageSize = 4096;

class TsdBufferedReadStream final : public TStream {
public:
    // The underlying stream is freed with this one only when owned.
    TsdBufferedReadStream(TStream* source, bool owned);
    ~TsdBufferedReadStream() override;
    TsdBufferedReadStream(const TsdBufferedReadStream&) = delete;
    TsdBufferedReadStream& operator=(const TsdBufferedReadStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    // Always fails: this stream only reads.
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t position() override { return pos_; }
    int64_t size() override;

    bool readByte(char& c) {
        const int64_t offset = pos_ - pageStart_;
        if (offset >= 0 && offset < pageLength_) {
            c = page_[offset];
            ++pos_;
            return true;
        }
        return readByteSlow(c);
    }
    // The bytes from the current position to the end of the loaded page (none when the page
    // holding the position is not loaded); skip() moves over some of them.
    const char* window(int64_t& length) const {
        const int64_t offset = pos_ - pageStart_;
        if (offset >= 0 && offset < pageLength_) {
            length = pageLength_ - offset;
            return page_.get() + offset;
        }
        length = 0;
        return nullptr;
    }
    void skip(int64_t count) { pos_ += count; }
    void moveTo(int64_t pos) { pos_ = pos; }

private:
    bool readByteSlow(char& c);
    bool loadPage();

    TStream* source_;
    bool owned_;
    std::unique_ptr<char[]> page_;
    int64_t pageStart_ = 0;
    int64_t pageLength_ = 0;
    int64_t pos_ = 0;
    int64_t size_ = -1;
    // Where the underlying stream stands after this stream's last read of it; -1 when unknown.
    int64_t sourcePos_ = -1;
};

class TsdBufferedWriteStream final : public TStream {
public:
    TsdBufferedWriteStream(TStream* target, bool owned);
    // Writes out what is left; a failure there is lost, so callers flush() first.
    ~TsdBufferedWriteStream() override;
    TsdBufferedWriteStream(const TsdBufferedWriteStream&) = delete;
    TsdBufferedWriteStream& operator=(const TsdBufferedWriteStream&) = delete;

    // Always fails: this stream only writes.
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    // Always fails: the output goes out in order.
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t position() override { return flushedPos_ + fill_; }
    int64_t size() override { return position(); }

    void writeBytes(const char* p, int64_t n) {
        if (n <= BufferPageSize - fill_) {
            std::memcpy(buffer_.get() + fill_, p, static_cast<size_t>(n));
            fill_ += n;
            if (fill_ == BufferPageSize) flush();
            return;
        }
        writeBytesSlow(p, n);
    }
    void flush();

private:
    void writeBytesSlow(const char* p, int64_t n);

    TStream* target_;
    bool owned_;
    std::unique_ptr<char[]> buffer_;
    int64_t fill_ = 0;
    int64_t flushedPos_ = 0;
};

// Detects the encoding on its first read and delivers exactly one character per read; it
// remembers where the last two characters started so that a reader can step back over them.
class TsdCodecStream : public TStream {
public:
    explicit TsdCodecStream(TStream* stream);

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    // Only a relative step back of one or two characters while reading is possible.
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t position() override;
    int64_t size() override;

    TsdEncodingKind encodingKind() const { return kind_; }
    // Before the first write this picks the output encoding; while reading it takes effect
    // from the next character on.
    void setEncodingKind(TsdEncodingKind kind);

    // Detects the encoding now rather than at the first character; no effect after that.
    void beginRead();

    // One character, as Read(&c, 1) but without the virtual calls for the byte kinds.
    bool getChar(char& c) {
        if (direct_) {
            prev2_ = prev1_;
            prev1_ = direct_->position();
            return direct_->readByte(c);
        }
        return getCharSlow(c);
    }
    // For the reader's bulk scans: bytes that the next reads would deliver one by one, when
    // the encoding allows; consume() accounts for those taken.
    const char* window(int64_t& length) const {
        if (direct_) return direct_->window(length);
        length = 0;
        return nullptr;
    }
    void consume(int64_t count) {
        if (count <= 0 || !direct_) return;
        const int64_t end = direct_->position() + count;
        prev2_ = count >= 2 ? end - 2 : prev1_;
        prev1_ = end - 1;
        direct_->skip(count);
    }
    // Seek(-count, Current) without the virtual calls where the encoding allows.
    void stepBack(int count) {
        if (direct_ && (count == 1 || count == 2)) {
            const int64_t target = count == 1 ? prev1_ : prev2_;
            direct_->moveTo(target);
            prev1_ = count == 1 ? prev2_ : target;
            prev2_ = prev1_;
            return;
        }
        Seek(-count, SeekOrigin::Current);
    }
    // Whether written bytes go out unchanged (8-bit output once writing has started).
    bool passesBytesOut() const { return directOut_ != nullptr; }
    void putBytes(const char* p, int64_t n) {
        if (directOut_) {
            directOut_->writeBytes(p, n);
            return;
        }
        Write(p, n);
    }

    // Raised once, the first time a character cannot be represented in the output.
    std::function<void(TsdCodecStream&)> OnCharLoss;

protected:
    virtual bool ReadChar(char& c);
    virtual void StorePrevPositions();
    virtual void WriteChar(char c);
    virtual void WriteBuf(const char* p, int64_t n);

    // Subclasses that read byte kinds one byte per character unchanged set this.
    bool bytesPassThrough_ = false;
    // Set by codecs whose values are already UTF-8, so that UTF-8 output passes unchanged.
    bool utf8Values_ = false;
    void updateDirect();
    int64_t prev1_ = 0;
    int64_t prev2_ = 0;
    // Reads one 16-bit unit for kinds 5, 6, 8 and 9; false at the end.
    bool readUnit(uint16_t& unit);
    void writeUnit(uint16_t unit);
    void signalCharLoss();

    TStream* stream_;
    TsdEncodingKind kind_ = ekAnsi;

private:
    enum class State { Fresh, Reading, Writing };
    bool getCharSlow(char& c);
    void startReading();
    void startWriting();

    State state_ = State::Fresh;
    bool charLossSignalled_ = false;
    TsdBufferedReadStream* bufferedIn_ = nullptr;
    TsdBufferedWriteStream* bufferedOut_ = nullptr;
    TsdBufferedReadStream* direct_ = nullptr;
    TsdBufferedWriteStream* directOut_ = nullptr;
};

// 8-bit characters: byte kinds pass unchanged, 16-bit text is reduced to the code page.
class TsdAnsiStream : public TsdCodecStream {
public:
    explicit TsdAnsiStream(TStream* stream);

protected:
    bool ReadChar(char& c) override;
    void WriteChar(char c) override;
    void WriteBuf(const char* p, int64_t n) override;
};

// Values held as UTF-8: byte kinds pass unchanged, 16-bit text is converted to and from UTF-8.
class TsdUtf8Stream : public TsdCodecStream {
public:
    explicit TsdUtf8Stream(TStream* stream);

protected:
    bool ReadChar(char& c) override;
    void StorePrevPositions() override;
    void WriteChar(char c) override;
    void WriteBuf(const char* p, int64_t n) override;

public:
    int64_t Seek(int64_t offset, SeekOrigin origin) override;

private:
    char pending_[3] = {};
    int pendingCount_ = 0;
    int pendingPos_ = 0;
    std::string partial_;
};

}  // namespace xml
