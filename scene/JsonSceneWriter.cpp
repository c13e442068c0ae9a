#include "scene/JsonSceneWriter.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "base/GuidText.h"
#include "base/InputError.h"
#include "host/Host.h"
#include "scene/AttributeValues.h"
#include "scene/SceneTree.h"

namespace host {

namespace {

bool isIdentity(const _CMatrix3<float>& m) {
    static const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    return std::memcmp(&m, identity, sizeof identity) == 0;
}

/// Writes the scene as indented JSON, one key per line. Written by hand rather than through a
/// JSON library: every float must come out as its own shortest decimal, byte for byte.
class JsonSceneWriter {
public:
    JsonSceneWriter(const Host& host, const OptionalLevel& level) : host_(host), level_(level) {}

    std::string write() {
        const std::vector<SceneNode> roots = sceneTree(host_);
        out_ = "{\n";
        if (level_) out_ += "  \"level\": " + levelJson(*level_) + ",\n";
        out_ += "  \"objects\": [";
        writeNodes(roots, 2);
        out_ += "]\n}\n";
        return out_;
    }

private:
    /// The file name alone when the level stands as it was made, else the object form.
    static std::string levelJson(const SceneLevel& level) {
        if (level.unplaced()) return jsonString(level.file);
        return "{\"file\": " + jsonString(level.file) + ", \"scale\": " + jsonFloat(level.scale) +
               ", \"position\": " + jsonFloats(level.position.data(), 3) + "}";
    }

    static std::string jsonFloats(const float* values, std::size_t count) {
        std::string text = "[";
        for (std::size_t i = 0; i < count; ++i) text += (i ? ", " : "") + jsonFloat(values[i]);
        return text + "]";
    }

    void line(std::size_t depth, const std::string& text) {
        out_ += "\n";
        out_.append(2 * depth, ' ');
        out_ += text;
    }

    void writeNodes(const std::vector<SceneNode>& nodes, std::size_t depth) {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            line(depth, "{");
            writeObject(nodes[i], depth + 1);
            line(depth, i + 1 < nodes.size() ? "}," : "}");
        }
        if (!nodes.empty()) line(depth - 1, "");
    }

    /// "name", "class", "position" and "orientation", each with its value.
    std::vector<std::string> fields(const Handle& object, const std::string& name) const {
        std::vector<std::string> fields;
        fields.push_back("\"name\": " + jsonString(name));
        if (host_.runtime().kind(object) == ObjectKind::Module)
            fields.push_back("\"class\": " + jsonString(host_.className(object)));
        const std::optional<_CCoordSystem<float>> frame = host_.getObjectPos(object);
        if (frame) {
            const float origin[3] = {frame->Origin.x, frame->Origin.y, frame->Origin.z};
            fields.push_back("\"position\": " + jsonFloats(origin, 3));
            if (!isIdentity(frame->Orientation)) {
                float m[9];
                std::memcpy(m, &frame->Orientation, sizeof m);
                fields.push_back("\"orientation\": " + jsonFloats(m, 9));
            }
        }
        return fields;
    }

    void writeObject(const SceneNode& node, std::size_t depth) {
        const std::string& name = host_.nameOf(node.object);
        if (name.empty()) throw InputError("", guidToText(node.object.Guid), "name", "a scene object has no name");
        const std::vector<std::string> head = fields(node.object, name);
        std::vector<std::string> attributes;
        for (const Attribute& record : host_.ownAttributes(node.object)) {
            if (!isSceneType(record)) continue;
            const std::string key = attributeName(record);
            attributes.push_back(jsonString(key) + ": " + attributeValue(node.object, name, record, key));
        }
        for (std::size_t i = 0; i < head.size(); ++i)
            line(depth, head[i] + (i + 1 < head.size() || !attributes.empty() || !node.children.empty() ? "," : ""));
        if (!attributes.empty()) {
            line(depth, "\"attributes\": {");
            for (std::size_t i = 0; i < attributes.size(); ++i)
                line(depth + 1, attributes[i] + (i + 1 < attributes.size() ? "," : ""));
            line(depth, node.children.empty() ? "}" : "},");
        }
        if (!node.children.empty()) {
            line(depth, "\"children\": [");
            writeNodes(node.children, depth + 1);
            out_ += "]";
        }
    }

    std::string attributeValue(const Handle& handle, const std::string& name, const Attribute& record,
                               const std::string& key) const {
        const auto bytes = host_.getAttribute(handle, record);
        if (!bytes) throw InputError("", name, key, "the object did not give the attribute's value");
        std::optional<std::string> text = attributeJson(host_, record, *bytes);
        if (!text) {
            _GUID target{};
            std::memcpy(&target, bytes->data(), std::min(bytes->size(), sizeof target));
            throw InputError("", name, key, "refers to " + guidToText(target) + ", which is no object of the scene");
        }
        return std::move(*text);
    }

    const Host& host_;
    const OptionalLevel& level_;
    std::string out_;
};

}  // namespace

std::string sceneToJson(const Host& host, const OptionalLevel& level) { return JsonSceneWriter(host, level).write(); }

}  // namespace host
