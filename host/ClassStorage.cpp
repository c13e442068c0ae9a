#include "host/ClassStorage.h"

#include <bit>
#include <cstring>

#include "base/ByteOrder.h"
#include "framework/ISerialize.h"

namespace host {

// ---------------------------------------------------------------------------------------------
// Raw core

bool StreamBase::withinLimit(ULong count) const { return count <= limit_ && moved_ <= limit_ - count; }

int StreamBase::Read(void* destination, ULong count) {
    // The result is an int: a count it cannot express is a failure, never a wrapped number.
    const bool ok = loading_ && count <= static_cast<ULong>(std::numeric_limits<int>::max()) &&
                    (count == 0 || destination != nullptr) && withinLimit(count) && readBytes(destination, count);
    if (!ok) {
        failed_ = true;
        return -1;
    }
    moved_ += count;
    return static_cast<int>(count);
}

int StreamBase::Write(const void* source, ULong count) {
    const bool ok = !loading_ && count <= static_cast<ULong>(std::numeric_limits<int>::max()) &&
                    (count == 0 || source != nullptr) && withinLimit(count) && writeBytes(source, count);
    if (!ok) {
        failed_ = true;
        return -1;
    }
    moved_ += count;
    return static_cast<int>(count);
}

// ---------------------------------------------------------------------------------------------
// Typed operations: 4-byte words little-endian whatever the machine, bools as one byte.

void StreamBase::storeWord(std::uint32_t word) {
    std::uint8_t bytes[4];
    putLE32(bytes, word);
    Write(bytes, 4);
}

bool StreamBase::loadWord(std::uint32_t& word) {
    std::uint8_t bytes[4];
    if (Read(bytes, 4) < 0) return false;
    word = readLE32(bytes);
    return true;
}

IClassStorage& StreamBase::StoreObject(ISerialize& member) {
    member.Serialize(this);
    return *this;
}

IClassStorage& StreamBase::StoreFloat(float value) {
    storeWord(std::bit_cast<std::uint32_t>(value));
    return *this;
}

IClassStorage& StreamBase::StoreBool(bool value) {
    const std::uint8_t byte = value ? 1 : 0;
    Write(&byte, 1);
    return *this;
}

IClassStorage& StreamBase::StoreULong(ULong value) {
    storeWord(value);
    return *this;
}

IClassStorage& StreamBase::StoreLong(Long value) {
    storeWord(static_cast<std::uint32_t>(value));
    return *this;
}

IClassStorage& StreamBase::LoadObject(ISerialize& member) {
    member.Serialize(this);
    return *this;
}

IClassStorage& StreamBase::LoadFloat(float* value) {
    std::uint32_t word;
    if (loadWord(word) && value) *value = std::bit_cast<float>(word);
    return *this;
}

IClassStorage& StreamBase::LoadBool(bool* value) {
    std::uint8_t byte;
    if (Read(&byte, 1) >= 0 && value) *value = byte != 0;
    return *this;
}

IClassStorage& StreamBase::LoadULong(ULong* value) {
    std::uint32_t word;
    if (loadWord(word) && value) *value = word;
    return *this;
}

IClassStorage& StreamBase::LoadLong(Long* value) {
    std::uint32_t word;
    if (loadWord(word) && value) *value = static_cast<Long>(word);
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Memory

bool MemoryStream::readBytes(void* destination, std::size_t count) {
    if (count > remaining()) return false;
    if (count) std::memcpy(destination, bytes_.data() + position_, count);
    position_ += count;
    return true;
}

bool MemoryStream::writeBytes(const void* source, std::size_t count) {
    const auto* p = static_cast<const std::uint8_t*>(source);
    bytes_.insert(bytes_.end(), p, p + count);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Files

FileStream::FileStream(const std::string& path, Mode mode)
    : StreamBase(mode == Mode::Load), file_(std::fopen(path.c_str(), mode == Mode::Load ? "rb" : "wb")) {}

FileStream::~FileStream() { close(); }

bool FileStream::close() {
    if (!file_) return false;
    // A saving stream that lost a write has not written the file completely.
    const bool ok = std::fclose(file_) == 0 && (IsLoading() || !failed());
    file_ = nullptr;
    return ok;
}

bool FileStream::readBytes(void* destination, std::size_t count) {
    if (!file_) return false;
    if (count == 0) return true;
    scratch_.resize(count);
    const std::size_t got = std::fread(scratch_.data(), 1, count, file_);
    if (got != count) {
        // Put back what a short read consumed, so that a failed call leaves the position.
        std::clearerr(file_);
        std::fseek(file_, -static_cast<long>(got), SEEK_CUR);
        return false;
    }
    std::memcpy(destination, scratch_.data(), count);
    return true;
}

bool FileStream::writeBytes(const void* source, std::size_t count) {
    if (!file_) return false;
    return count == 0 || std::fwrite(source, 1, count, file_) == count;
}

}  // namespace host
