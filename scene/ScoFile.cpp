#include "scene/ScoFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "base/AtomicFile.h"
#include "base/ByteOrder.h"
#include "base/GuidText.h"
#include "base/InputError.h"
#include "host/ClassStorage.h"
#include "host/Host.h"
#include "scene/AttributeValues.h"
#include "scene/JsonDom.h"
#include "scene/MistakeWords.h"
#include "scene/SceneFile.h"
#include "scene/SceneTree.h"

namespace host {

namespace {

/// The class GUID a .sco stores for the object; fails for a class no factory makes.
_GUID scoClassGuid(const Host& host, const Handle& handle) {
    if (host.runtime().kind(handle) == ObjectKind::Plain) return kPlainObjectClassGuid;
    const std::string className = host.className(handle);
    for (const FactoryInfo& f : host.factories())
        if (f.className == className) return f.classGuid;
    throw InputError("", host.nameOf(handle), "class", "no factory makes the class " + quoteName(className));
}

void writeSco(Host& host, StreamBase& out, const OptionalLevel& level) {
    const std::vector<Handle> objects = sceneObjects(host);
    std::vector<std::uint8_t> head(kScoMagic, kScoMagic + sizeof kScoMagic);
    out.Write(head.data(), static_cast<ULong>(head.size()));
    // A scene without a level stays a version-1 file, which every reader reads.
    out.StoreULong(level ? kScoFormatVersion : kScoFormatVersionWithoutLevel);
    out.StoreULong(static_cast<ULong>(objects.size()));
    for (const Handle& handle : objects) {
        const std::string& name = host.nameOf(handle);
        if (name.empty()) throw InputError("", guidToText(handle.Guid), "name", "a scene object has no name");
        const Descriptor* descriptor = host.descriptor(handle);
        for (const _GUID& guid :
             {scoClassGuid(host, handle), handle.Guid, descriptor ? descriptor->parent().Guid : _GUID{}})
            out.Write(guidBytes(guid).data(), sizeof(GuidBytes));
        out.StoreULong(static_cast<ULong>(name.size()));
        out.Write(name.data(), static_cast<ULong>(name.size()));
        const std::optional<std::vector<std::uint8_t>> record = host.save(handle);
        if (!record) throw InputError("", name, "record", "its Serialize refused to write the record");
        out.StoreULong(static_cast<ULong>(record->size()));
        out.Write(record->data(), static_cast<ULong>(record->size()));
    }
    if (!level) return;
    out.StoreULong(static_cast<ULong>(level->file.size()));
    out.Write(level->file.data(), static_cast<ULong>(level->file.size()));
    out.StoreFloat(level->scale);
    for (const float v : level->position) out.StoreFloat(v);
}

/// Reads a .sco image: every length is checked against what remains before it is used.
class ScoReader {
public:
    ScoReader(Host& host, std::span<const std::uint8_t> bytes, const std::string& file)
        : host_(host), bytes_(bytes), file_(file) {}

    /// The objects read, before AfterLoad; the level, when the image has one, into `level`.
    std::vector<Handle> read(OptionalLevel* level) {
        label_ = "";
        if (!isScoImage(bytes_)) fail("header", "not a .sco file (its first bytes are not the .sco magic)");
        position_ = sizeof kScoMagic;
        const ULong version = word("format version");
        if (version != kScoFormatVersion && version != kScoFormatVersionWithoutLevel)
            fail("format version", "format version " + std::to_string(version) + " is not supported (this reads " +
                                       std::to_string(kScoFormatVersionWithoutLevel) + " and " +
                                       std::to_string(kScoFormatVersion) + ")");
        // The count is not trusted for anything but the loop: each object's fields are checked
        // against what remains as they are read, so a cut names the object where it happened.
        const ULong count = word("object count");
        for (ULong index = 0; index < count; ++index) readObject(index);
        label_ = "";
        OptionalLevel read;
        if (version == kScoFormatVersion) read = readLevel();
        if (remaining() != 0) fail("", std::to_string(remaining()) + " bytes follow the last object (corrupt)");
        checkReferences();
        checkPlaces();
        if (level) *level = std::move(read);
        return std::move(loaded_);
    }

private:
    [[noreturn]] void fail(const std::string& field, const std::string& reason) const {
        throw InputError(file_, label_, field, reason);
    }
    std::size_t remaining() const { return bytes_.size() - position_; }

    const std::uint8_t* take(std::size_t count, const std::string& field) {
        if (count > remaining())
            fail(field, "only " + std::to_string(remaining()) + " of the " + std::to_string(count) +
                            " bytes it needs remain (truncated)");
        const std::uint8_t* at = bytes_.data() + position_;
        position_ += count;
        return at;
    }
    ULong word(const std::string& field) { return readLE32(take(4, field)); }
    _GUID guid(const std::string& field) { return guidFromBytes(take(16, field)); }
    std::span<const std::uint8_t> chunk(const std::string& field) {
        const ULong length = word(field + " length");
        return {take(length, field), length};
    }
    std::string text(const std::string& field) {
        const auto bytes = chunk(field);
        return std::string(bytes.begin(), bytes.end());
    }

    float floatValue(const std::string& field) {
        const ULong bits = word(field);
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    /// The level section after the objects: its file, scale and position, checked as JSON's.
    SceneLevel readLevel() {
        label_ = "level";
        SceneLevel level;
        level.file = text("file");
        if (level.file.empty() || !isUtf8(level.file)) fail("file", "the level's file must be a non-empty UTF-8 name");
        level.scale = floatValue("scale");
        if (!(level.scale > 0) || !std::isfinite(level.scale)) fail("scale", "the scale must be a finite number above 0");
        for (float& v : level.position) {
            v = floatValue("position");
            if (!std::isfinite(v)) fail("position", "the position must be three finite numbers");
        }
        label_ = "";
        return level;
    }

    /// The place in `loaded_` of the object with this GUID, if it was read before.
    std::optional<std::size_t> placeOf(const _GUID& guid) const {
        // The runtime numbers its objects in order of creation, so an object's place is its
        // lookup reference minus the first one's: no map beside the runtime's own (which would
        // cost more than the runtime's entry itself at a million objects).
        if (loaded_.empty()) return std::nullopt;
        const Handle handle(guid);
        const ULong ref = host_.runtime().lookupRefOf(handle);
        if (ref == 0 || ref < first_ || ref - first_ >= loaded_.size()) return std::nullopt;
        const std::size_t place = ref - first_;
        if (!(loaded_[place] == handle)) return std::nullopt;
        return place;
    }

    /// One object: its fields checked, then made and handed its record.
    void readObject(ULong index) {
        label_ = "object #" + std::to_string(index);
        const _GUID classGuid = guid("class GUID");
        const _GUID objectGuid = guid("GUID");
        const _GUID parentGuid = guid("parent GUID");
        const std::string name = text("name");
        if (name.empty()) fail("name", "the object has no name");
        if (!isUtf8(name)) fail("name", "the name is not valid UTF-8");
        label_ = name;
        const std::span<const std::uint8_t> record = chunk("record");
        if (!host_.find(name).IsNull()) fail("name", "the name is used by another object");
        if (CGUID(objectGuid).IsNull()) fail("GUID", "the object's GUID is null");
        if (host_.object(Handle(objectGuid))) fail("GUID", guidToText(objectGuid) + " is used by another object");
        std::size_t depth = 1;
        if (!CGUID(parentGuid).IsNull()) {
            const auto parent = placeOf(parentGuid);
            if (!parent) fail("parent GUID", guidToText(parentGuid) + " is not an object before this one in the file");
            depth = depths_[*parent] + std::size_t{1};
            if (depth > kMaxSceneDepth)
                fail("parent GUID", "child lists nested deeper than " + std::to_string(kMaxSceneDepth));
        }

        const Handle handle = make(classGuid, objectGuid, parentGuid, name);
        depths_.push_back(static_cast<std::uint16_t>(depth));
        if (loaded_.empty()) first_ = host_.runtime().lookupRefOf(handle);
        loaded_.push_back(handle);
        std::size_t unread = 0;
        if (!host_.load(handle, record, &unread))
            fail("record", "its Serialize refused the record (truncated or corrupt)");
        if (unread != 0) fail("record", std::to_string(unread) + " bytes of the record were left unread (corrupt)");
    }

    Handle make(const _GUID& classGuid, const _GUID& objectGuid, const _GUID& parentGuid, const std::string& name) {
        Runtime& runtime = host_.runtime();
        if (CGUID(classGuid) == CGUID(kPlainObjectClassGuid)) {
            return runtime.addWithGuid(objectGuid, name, Handle(parentGuid), ObjectKind::Plain,
                                       [](const CGUID& guid, const CGUID& second, ISCODescriptor* descriptor) {
                                           return new HostObject(guid, second, descriptor);
                                       });
        }
        for (const FactoryInfo& info : host_.factories()) {
            if (!(CGUID(info.classGuid) == CGUID(classGuid))) continue;
            RtsObjectFactory* factory = info.factory;
            const Handle made =
                runtime.addWithGuid(objectGuid, name, Handle(parentGuid), ObjectKind::Module,
                                    [factory](const CGUID& guid, const CGUID& second, ISCODescriptor* descriptor) {
                                        return factory->New(guid, second, descriptor);
                                    });
            if (made.IsNull()) throw std::runtime_error("the factory of " + info.className + " made no object");
            return made;
        }
        std::vector<std::string> classes;
        for (const FactoryInfo& f : host_.factories()) classes.push_back(f.className + " " + guidToText(f.classGuid));
        classes.push_back("plain objects " + guidToText(kPlainObjectClassGuid));
        fail("class GUID", "unknown class " + guidToText(classGuid) + "; the classes are " + joinNames(classes));
    }

    /// Every object stands somewhere: finite position and orientation, as JSON scenes and edits
    /// require them.
    void checkPlaces() {
        for (const Handle& handle : loaded_) {
            const std::optional<_CCoordSystem<float>> frame = host_.getObjectPos(handle);
            if (!frame) continue;
            label_ = host_.nameOf(handle);
            const _Point3<float>& o = frame->Origin;
            if (!std::isfinite(o.x) || !std::isfinite(o.y) || !std::isfinite(o.z))
                fail("position", "the position must be finite numbers (no NaN or infinity)");
            for (const auto& row : frame->Orientation.m)
                for (const float v : row)
                    if (!std::isfinite(v)) fail("orientation", "the orientation must be finite numbers (no NaN or infinity)");
        }
    }

    /// Every reference of a loaded object names nothing or an object of the file.
    void checkReferences() {
        // A sorted array: a sixth of a tree's memory per object, which counts at a million.
        std::vector<GuidBytes> guids;
        guids.reserve(loaded_.size());
        for (const Handle& handle : loaded_) guids.push_back(guidBytes(handle.Guid));
        std::sort(guids.begin(), guids.end());
        for (const Handle& handle : loaded_) {
            label_ = host_.nameOf(handle);
            for (const Attribute& record : host_.ownAttributes(handle)) {
                if (record.Type != kTypeGuidRef || !isSceneType(record)) continue;
                const auto value = host_.getAttribute(handle, record);
                if (!value || value->size() != sizeof(_GUID)) continue;
                _GUID target;
                std::memcpy(&target, value->data(), sizeof target);
                if (!CGUID(target).IsNull() && !std::binary_search(guids.begin(), guids.end(), guidBytes(target)))
                    fail(attributeName(record), "refers to " + guidToText(target) + ", which is no object of the file");
            }
        }
    }

    Host& host_;
    std::span<const std::uint8_t> bytes_;
    const std::string& file_;
    std::size_t position_ = 0;
    std::string label_;
    std::vector<Handle> loaded_;
    /// Nesting depth of each object read, by its place in `loaded_`.
    std::vector<std::uint16_t> depths_;
    ULong first_ = 0;  ///< the first object's lookup reference
};

}  // namespace

std::vector<Handle> buildScoScene(Host& host, std::span<const std::uint8_t> bytes, const std::string& file,
                                  OptionalLevel* level) {
    return ScoReader(host, bytes, file).read(level);
}

std::vector<Handle> loadScoScene(Host& host, std::span<const std::uint8_t> bytes, const std::string& file,
                                 OptionalLevel* level) {
    std::vector<Handle> loaded = buildScoScene(host, bytes, file, level);
    for (const Handle& object : loaded) host.afterLoad(object);
    return loaded;
}

std::vector<std::uint8_t> sceneToScoImage(Host& host, const OptionalLevel& level) {
    MemoryStream out;
    writeSco(host, out, level);
    return out.bytes();
}

void writeScoFile(Host& host, const std::string& path, const OptionalLevel& level) {
    writeFileAtomically(path, [&](const std::string& temporary) {
        FileStream out(temporary, FileStream::Mode::Save);
        if (!out.isOpen()) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
        writeSco(host, out, level);
        if (!out.close()) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    });
}

}  // namespace host
