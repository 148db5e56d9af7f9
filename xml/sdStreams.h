#pragma once
// A small byte stream abstraction: what the XML layer reads from and writes into, with a memory
// and a file implementation.
#include "xml/sdXmlErrors.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace xml {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    // Return the number of bytes actually transferred.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

    virtual int64_t position() { return Seek(0, SeekOrigin::Current); }
    virtual int64_t size();
    void setPosition(int64_t pos) { Seek(pos, SeekOrigin::Beginning); }
    // Cuts or extends the stream; streams that cannot do so throw EsdStreamError.
    virtual void setSize(int64_t newSize);

    // Write everything or fail with "Cannot write to output stream".
    void writeAll(const void* buffer, int64_t count);
    void writeAll(std::string_view bytes) { writeAll(bytes.data(), static_cast<int64_t>(bytes.size())); }
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t position() override { return pos_; }
    int64_t size() override { return static_cast<int64_t>(data_.size()); }
    void setSize(int64_t newSize) override;

    const std::string& bytes() const { return data_; }
    std::string takeBytes();
    void clear();

private:
    std::string data_;
    int64_t pos_ = 0;
};

class TFileStream : public TStream {
public:
    enum Mode {
        fmOpenRead,       // existing file, read only
        fmOpenReadWrite,  // existing file, read and write
        fmCreate          // created or emptied, read and write
    };
    // Fails with EsdStreamError naming the file when it cannot be opened.
    TFileStream(const std::string& fileName, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    void setSize(int64_t newSize) override;
    // Pushes buffered bytes to the file; fails with "Cannot write to output stream".
    void flush();

private:
    std::FILE* file_ = nullptr;
    bool lastWasWrite_ = false;
    bool lastWasRead_ = false;
};

}  // namespace xml
