#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ember/ber.h"

namespace vantrel::ember {

/// A parameter's value, or a function's argument or result.
using Value = std::variant<std::int64_t, double, std::string, bool, Bytes>;

enum class ParameterType : std::uint8_t {
    kInteger = 1,
    kReal = 2,
    kString = 3,
    kBoolean = 4,
    kTrigger = 5,
    kEnum = 6,
    kOctets = 7,
};

enum class Access : std::uint8_t { kNone = 0, kRead = 1, kWrite = 2, kReadWrite = 3 };

enum class CommandType : std::uint8_t {
    kSubscribe = 30,
    kUnsubscribe = 31,
    kGetDirectory = 32,
    kInvoke = 33,
};

struct NodeContents {
    std::optional<std::string> identifier, description;
    std::optional<bool> isRoot, isOnline;
};

struct ParameterContents {
    std::optional<std::string> identifier, description;
    std::optional<Value> value;
    std::optional<std::int64_t> minimum, maximum;
    std::optional<Access> access;
    /// The enum's names, one a line, numbered from 0.
    std::optional<std::string> enumeration;
    std::optional<bool> isOnline;
    std::optional<ParameterType> type;
};

struct TupleItem {
    ParameterType type = ParameterType::kInteger;
    std::optional<std::string> name;
};

struct FunctionContents {
    std::optional<std::string> identifier, description;
    std::optional<std::vector<TupleItem>> arguments, result;
};

struct Invocation {
    std::optional<std::int32_t> id;
    std::vector<Value> arguments;
};

struct Command {
    CommandType type = CommandType::kGetDirectory;
    std::optional<std::int32_t> dirFieldMask;
    std::optional<Invocation> invocation;
};

enum class ElementKind : std::uint8_t { kNode, kParameter, kFunction, kCommand };

/// A node, parameter, function or command. A qualified element names its place by its whole
/// path; an unqualified one by its number under the element that holds it (`path` has one
/// number then). A command has no path.
struct Element {
    ElementKind kind = ElementKind::kNode;
    bool qualified = false;
    std::vector<std::uint32_t> path;
    std::variant<std::monostate, NodeContents, ParameterContents, FunctionContents> contents;
    Command command;  // kCommand only
    /// Absent and empty differ: an empty collection says the element has no children.
    std::optional<std::vector<Element>> children;
};

/// An element named by its whole path, by its number under the element that holds it, or a
/// command.
inline Element QualifiedElement(ElementKind kind, std::vector<std::uint32_t> path) {
    Element e;
    e.kind = kind;
    e.qualified = true;
    e.path = std::move(path);
    return e;
}
inline Element NumberedElement(ElementKind kind, std::uint32_t number) {
    Element e;
    e.kind = kind;
    e.path = {number};
    return e;
}
inline Element CommandElement(Command command) {
    Element e;
    e.kind = ElementKind::kCommand;
    e.command = std::move(command);
    return e;
}

struct InvocationResult {
    std::int32_t id = 0;
    std::optional<bool> success;
    std::vector<Value> result;
};

/// One Glow message: a root holding elements, or the result of an invocation.
struct Root {
    std::variant<std::vector<Element>, InvocationResult> body;
};

Bytes EncodeGlow(const Root& root);
/// Decodes a message; parts of the schema this provider does not use (matrices, streams,
/// fields it does not know) are passed over. Anything malformed is a failure. Elements past
/// the first `mostElements`, counted as they are met, children and all, are passed over
/// unread, so that a message's cost is bounded by what will be done with it.
Result<Root> DecodeGlow(const Bytes& bytes, std::size_t mostElements = SIZE_MAX);

}  // namespace vantrel::ember
