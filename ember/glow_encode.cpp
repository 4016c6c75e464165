#include "ember/glow.h"
#include "ember/glow_tags.h"

namespace vantrel::ember {
namespace {

namespace tag = glow_tag;

// A context-tagged field: [n] around what `fill` writes.
template <typename Fill>
void Field(BerWriter& w, std::uint32_t n, Fill fill) {
    w.Open(Context(n));
    fill();
    w.Close();
}

void PutValue(BerWriter& w, const Value& value) {
    std::visit(
        [&w](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int64_t>) w.Integer(v);
            if constexpr (std::is_same_v<T, double>) w.Real(v);
            if constexpr (std::is_same_v<T, std::string>) w.Utf8(v);
            if constexpr (std::is_same_v<T, bool>) w.Boolean(v);
            if constexpr (std::is_same_v<T, Bytes>) w.Octets(v);
        },
        value);
}

void PutString(BerWriter& w, std::uint32_t n, const std::optional<std::string>& text) {
    if (text) Field(w, n, [&] { w.Utf8(*text); });
}
void PutBool(BerWriter& w, std::uint32_t n, const std::optional<bool>& flag) {
    if (flag) Field(w, n, [&] { w.Boolean(*flag); });
}
template <typename Number>
void PutInteger(BerWriter& w, std::uint32_t n, const std::optional<Number>& number) {
    if (number) Field(w, n, [&] { w.Integer(static_cast<std::int64_t>(*number)); });
}

void PutTuple(BerWriter& w, const std::vector<Value>& values) {
    w.Open(Universal(universal::kSequence, true));
    for (const Value& value : values) Field(w, 0, [&] { PutValue(w, value); });
    w.Close();
}

void PutTupleDescription(BerWriter& w, const std::vector<TupleItem>& items) {
    w.Open(Universal(universal::kSequence, true));
    for (const TupleItem& item : items) {
        Field(w, 0, [&] {
            w.Open(Application(tag::kTupleItemDescription));
            Field(w, 0, [&] { w.Integer(static_cast<std::int64_t>(item.type)); });
            PutString(w, 1, item.name);
            w.Close();
        });
    }
    w.Close();
}

void PutContents(BerWriter& w, const NodeContents& c) {
    PutString(w, 0, c.identifier);
    PutString(w, 1, c.description);
    PutBool(w, 2, c.isRoot);
    PutBool(w, 3, c.isOnline);
}

void PutContents(BerWriter& w, const ParameterContents& c) {
    PutString(w, 0, c.identifier);
    PutString(w, 1, c.description);
    if (c.value) Field(w, 2, [&] { PutValue(w, *c.value); });
    PutInteger(w, 3, c.minimum);
    PutInteger(w, 4, c.maximum);
    PutInteger(w, 5, c.access);
    PutString(w, 7, c.enumeration);
    PutBool(w, 9, c.isOnline);
    PutInteger(w, 13, c.type);
}

void PutContents(BerWriter& w, const FunctionContents& c) {
    PutString(w, 0, c.identifier);
    PutString(w, 1, c.description);
    if (c.arguments) Field(w, 2, [&] { PutTupleDescription(w, *c.arguments); });
    if (c.result) Field(w, 3, [&] { PutTupleDescription(w, *c.result); });
}

void PutCommand(BerWriter& w, const Command& command) {
    w.Open(Application(tag::kCommand));
    Field(w, 0, [&] { w.Integer(static_cast<std::int64_t>(command.type)); });
    PutInteger(w, 1, command.dirFieldMask);
    if (command.invocation) {
        Field(w, 2, [&] {
            w.Open(Application(tag::kInvocation));
            PutInteger(w, 0, command.invocation->id);
            Field(w, 1, [&] { PutTuple(w, command.invocation->arguments); });
            w.Close();
        });
    }
    w.Close();
}

std::uint32_t ElementTag(const Element& e) {
    switch (e.kind) {
        case ElementKind::kNode:
            return e.qualified ? tag::kQualifiedNode : tag::kNode;
        case ElementKind::kParameter:
            return e.qualified ? tag::kQualifiedParameter : tag::kParameter;
        case ElementKind::kFunction:
            return e.qualified ? tag::kQualifiedFunction : tag::kFunction;
        case ElementKind::kCommand:
            return tag::kCommand;
    }
    return tag::kNode;
}

void PutElement(BerWriter& w, const Element& e) {
    if (e.kind == ElementKind::kCommand) return PutCommand(w, e.command);
    w.Open(Application(ElementTag(e)));
    Field(w, 0, [&] {
        if (e.qualified) {
            w.RelativeOid(e.path);
        } else {
            w.Integer(e.path.empty() ? 0 : e.path.back());
        }
    });
    if (!std::holds_alternative<std::monostate>(e.contents)) {
        Field(w, 1, [&] {
            w.Open(Universal(universal::kSet, true));
            std::visit(
                [&w](const auto& c) {
                    if constexpr (!std::is_same_v<std::decay_t<decltype(c)>, std::monostate>) {
                        PutContents(w, c);
                    }
                },
                e.contents);
            w.Close();
        });
    }
    if (e.children) {
        Field(w, 2, [&] {
            w.Open(Application(tag::kElementCollection));
            for (const Element& child : *e.children) Field(w, 0, [&] { PutElement(w, child); });
            w.Close();
        });
    }
    w.Close();
}

}  // namespace

Bytes EncodeGlow(const Root& root) {
    BerWriter w;
    w.Open(Application(tag::kRoot));
    if (const auto* elements = std::get_if<std::vector<Element>>(&root.body)) {
        w.Open(Application(tag::kRootElementCollection));
        for (const Element& e : *elements) Field(w, 0, [&] { PutElement(w, e); });
        w.Close();
    } else {
        const auto& result = std::get<InvocationResult>(root.body);
        w.Open(Application(tag::kInvocationResult));
        Field(w, 0, [&] { w.Integer(result.id); });
        PutBool(w, 1, result.success);
        Field(w, 2, [&] { PutTuple(w, result.result); });
        w.Close();
    }
    w.Close();
    return w.Data();
}

}  // namespace vantrel::ember
