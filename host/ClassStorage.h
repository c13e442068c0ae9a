#pragma once
/// Class storage streams over memory and over files.
///
/// Byte form of the typed operations (every stream of the host writes and reads exactly this):
///
///   StoreULong / LoadULong   4 bytes, little-endian
///   StoreLong  / LoadLong    4 bytes, little-endian, two's complement
///   StoreFloat / LoadFloat   4 bytes, the IEEE single bits, little-endian
///   StoreBool  / LoadBool    1 byte, 0 or 1 (loading takes any non-zero byte as true)
///   StoreObject/ LoadObject  whatever the member's own `Serialize` moves
///
/// `Read` and `Write` move raw bytes and return the byte count, or -1 when the stream cannot
/// move all of them (too few bytes left, wrong direction, a file error, or the fail-after limit).
/// A failed read moves nothing: the destination is left as it was and the position stays, and a
/// typed `Load...` that fails leaves its destination unchanged. A failed write to a file may have
/// written part of the bytes (fwrite stops where the disk does); the stream then counts as failed
/// and `FileStream::close` reports the file as not written completely.

#include <cstdint>
#include <cstdio>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "framework/IClassStorage.h"

namespace host {

/// Typed operations over a raw byte core, the direction and the fail-after limit.
class StreamBase : public IClassStorage {
public:
    int Read(void* destination, ULong count) final;
    int Write(const void* source, ULong count) final;
    int IsLoading() final { return loading_ ? 1 : 0; }

    IClassStorage& StoreObject(ISerialize& member) final;
    IClassStorage& StoreFloat(float value) final;
    IClassStorage& StoreBool(bool value) final;
    IClassStorage& StoreULong(ULong value) final;
    IClassStorage& StoreLong(Long value) final;
    IClassStorage& LoadObject(ISerialize& member) final;
    IClassStorage& LoadFloat(float* value) final;
    IClassStorage& LoadBool(bool* value) final;
    IClassStorage& LoadULong(ULong* value) final;
    IClassStorage& LoadLong(Long* value) final;

    /// Every byte after the first `limit` moved by this stream fails (for tests of failure paths).
    void failAfter(std::uint64_t limit) { limit_ = limit; }
    /// True once any `Read` or `Write` has failed.
    bool failed() const { return failed_; }
    /// Bytes moved so far by successful calls.
    std::uint64_t bytesMoved() const { return moved_; }

protected:
    explicit StreamBase(bool loading) : loading_(loading) {}
    ~StreamBase() = default;

    /// Reads exactly `count` bytes or nothing; false when that is impossible.
    virtual bool readBytes(void* destination, std::size_t count) = 0;
    /// Writes `count` bytes; false when not all of them could be written (a file may then hold
    /// part of them).
    virtual bool writeBytes(const void* source, std::size_t count) = 0;

private:
    /// Whether `count` more bytes stay within the fail-after limit.
    bool withinLimit(ULong count) const;
    bool loadWord(std::uint32_t& word);
    void storeWord(std::uint32_t word);

    bool loading_;
    bool failed_ = false;
    std::uint64_t moved_ = 0;
    std::uint64_t limit_ = std::numeric_limits<std::uint64_t>::max();
};

/// A stream over a byte buffer: saving appends to it, loading reads it from the start and never
/// past its end.
class MemoryStream final : public StreamBase {
public:
    /// An empty stream in saving direction.
    MemoryStream() : StreamBase(false) {}
    /// A loading stream over a copy of `bytes`.
    explicit MemoryStream(std::span<const std::uint8_t> bytes) : StreamBase(true), bytes_(bytes.begin(), bytes.end()) {}

    /// Everything written (saving) or the whole buffer being read (loading).
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    /// Read position (loading).
    std::size_t position() const { return position_; }
    /// Bytes not yet read (loading).
    std::size_t remaining() const { return bytes_.size() - position_; }

private:
    bool readBytes(void* destination, std::size_t count) override;
    bool writeBytes(const void* source, std::size_t count) override;

    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

/// A stream over a file, opened for reading (loading) or for writing (saving, truncating).
class FileStream final : public StreamBase {
public:
    enum class Mode { Load, Save };

    FileStream(const std::string& path, Mode mode);
    ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    /// False when the file could not be opened; every call then fails.
    bool isOpen() const { return file_ != nullptr; }
    /// Flushes and closes; false when the file could not be written completely.
    bool close();

private:
    bool readBytes(void* destination, std::size_t count) override;
    bool writeBytes(const void* source, std::size_t count) override;

    std::FILE* file_ = nullptr;
    std::vector<std::uint8_t> scratch_;  ///< a read lands here first so a short read moves nothing
};

}  // namespace host
