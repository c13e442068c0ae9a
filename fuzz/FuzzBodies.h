#pragma once
/// The bodies of the fuzz targets, shared by the libFuzzer executables (clang) and by the replay
/// test (any compiler). Each takes arbitrary bytes, builds a small scene in a stand-in host of its
/// own, drives the plug-in with what the bytes say and checks the contracts that must hold for
/// any input. A broken contract prints what broke to stderr and aborts.

#include <cstdint>
#include <span>
#include <vector>

namespace fuzz {

/// Loads arbitrary records into the objects of a scene (waypoints, path, iterator, a plain
/// object: the base record), then uses them: the waypoints' parameters, a refit, the box, the
/// drawing, a few ticks of the iterator and a bounded flight; loaded records must save and load
/// again to the same bytes.
///
///   input = start (u32) step (u32) frame*      frame = target (u8) length (u16) bytes[length]
///
/// Little-endian; missing bytes read as 0.
void fuzzRecords(std::span<const std::uint8_t> input);

/// Sets arbitrary attribute values on a small scene (a path of 3 to 5 waypoints, plain targets,
/// an iterator with or without a moving destination), then refits, checks the box against the
/// literal walk, draws and flies a bounded flight.
///
///   input = header op*
///   header = wayPoints (u8: 3 + n % 3) flags (u8: bit 0 MovingDestination) start (u32) step (u32)
///   op = object (u8) attribute (u8: position in the object's attribute list) mode (u8) value
///   mode: bit 0 notifies the object that the attribute changed (OnAttributChanged); bit 1, with
///   bit 0 only, then notifies that its position changed too (OnPositionChanged)
///
/// The value takes as many bytes as the attribute's type: 4 for a float or an unsigned long,
/// 1 for a bool (bit 0), 12 for a point, 48 for an object position, 1 for a reference (an
/// object of the scene, none, or an unknown GUID).
void fuzzAttributes(std::span<const std::uint8_t> input);

/// Arbitrary bytes as a scene file, JSON or .sco by content (as every command reads one): a load
/// either fails with the scene error, or gives a scene whose JSON export is a fixed point
/// (export, load, export: the same text) and whose .sco round trip gives the same JSON.
void fuzzScene(std::span<const std::uint8_t> input);

/// Arbitrary edit requests sent to a studio over a small scene through the handlers its server
/// calls (no sockets): PATCH, POST and DELETE of objects, moves, undo and redo, frames. Each
/// answers 4xx with a message and leaves the scene as it was, or changes it into a scene whose
/// JSON export is still a fixed point; nothing answers 5xx or throws.
///
///   input = request*      request = kind (u8) name (u8) length (u16) body[length]
void fuzzStudio(std::span<const std::uint8_t> input);

/// Arbitrary bytes as a level file (.gltf or .glb by content, in a folder with a small buffer
/// file its URIs may name): the read either fails with the input error or gives a mesh whose
/// indices, surfaces and positions are all in range and finite.
void fuzzLevel(std::span<const std::uint8_t> input);

/// Well-formed inputs of both kinds: the saved records of a default scene, edits with plain
/// values. The libFuzzer corpora start from these; the replay runs them and mutates them.
std::vector<std::vector<std::uint8_t>> recordSeeds();
std::vector<std::vector<std::uint8_t>> attributeSeeds();
/// A scene with every feature and a minimal one, as JSON and as .sco.
std::vector<std::vector<std::uint8_t>> sceneSeeds();
/// Request sequences of every kind with valid bodies.
std::vector<std::vector<std::uint8_t>> studioSeeds();
/// A .gltf with nested nodes (TRS and matrix), a mirrored node, strips, fans and lines over an
/// external buffer, and a .glb with its buffer inside.
std::vector<std::vector<std::uint8_t>> levelSeeds();

}  // namespace fuzz
