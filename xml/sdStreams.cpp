#include "xml/sdStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace xml {

int64_t TStream::size() {
    const int64_t pos = Seek(0, SeekOrigin::Current);
    const int64_t end = Seek(0, SeekOrigin::End);
    Seek(pos, SeekOrigin::Beginning);
    return end;
}

void TStream::setSize(int64_t) { throw EsdStreamError("Stream cannot change its size"); }

void TStream::writeAll(const void* buffer, int64_t count) {
    if (count <= 0) return;
    if (Write(buffer, count) != count) throw EsdStreamError("Cannot write to output stream");
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t available = static_cast<int64_t>(data_.size()) - pos_;
    const int64_t n = std::clamp<int64_t>(count, 0, std::max<int64_t>(available, 0));
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const auto pos = static_cast<size_t>(pos_);
    const auto n = static_cast<size_t>(count);
    // A gap before the position reads as zeros; what goes past the end is appended, so that
    // writing at the end never clears memory only to overwrite it.
    if (pos > data_.size()) data_.resize(pos);
    const size_t inside = std::min(data_.size() - pos, n);
    std::memcpy(data_.data() + pos, buffer, inside);
    data_.append(static_cast<const char*>(buffer) + inside, n - inside);
    pos_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    int64_t base = 0;
    if (origin == SeekOrigin::Current) base = pos_;
    if (origin == SeekOrigin::End) base = static_cast<int64_t>(data_.size());
    pos_ = std::max<int64_t>(base + offset, 0);
    return pos_;
}

void TMemoryStream::setSize(int64_t newSize) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(newSize, 0)));
    pos_ = std::min(pos_, static_cast<int64_t>(data_.size()));
}

std::string TMemoryStream::takeBytes() {
    std::string out = std::move(data_);
    clear();
    return out;
}

void TMemoryStream::clear() {
    data_.clear();
    pos_ = 0;
}

TFileStream::TFileStream(const std::string& fileName, Mode mode) {
    const char* how = mode == fmOpenRead ? "rb" : (mode == fmOpenReadWrite ? "r+b" : "w+b");
    file_ = std::fopen(fileName.c_str(), how);
    if (!file_)
        throw EsdStreamError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
}

TFileStream::~TFileStream() {
    if (file_) std::fclose(file_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    // The C library needs a positioning call between a write and a read.
    if (lastWasWrite_) std::fseek(file_, 0, SEEK_CUR);
    lastWasWrite_ = false;
    lastWasRead_ = true;
    return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (lastWasRead_) std::fseek(file_, 0, SEEK_CUR);
    lastWasRead_ = false;
    lastWasWrite_ = true;
    return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
    const int whence = origin == SeekOrigin::Beginning ? SEEK_SET : (origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END);
    if (!(origin == SeekOrigin::Current && offset == 0)) {
        if (fseeko(file_, static_cast<off_t>(offset), whence) != 0) throw EsdStreamError("Seek error in file stream");
        lastWasRead_ = lastWasWrite_ = false;
    }
    return static_cast<int64_t>(ftello(file_));
}

void TFileStream::setSize(int64_t newSize) {
    flush();
    if (ftruncate(fileno(file_), static_cast<off_t>(std::max<int64_t>(newSize, 0))) != 0)
        throw EsdStreamError("Cannot write to output stream");
    if (position() > newSize) Seek(newSize, SeekOrigin::Beginning);
}

void TFileStream::flush() {
    if (std::fflush(file_) != 0) throw EsdStreamError("Cannot write to output stream");
}

}  // namespace xml
