#include "ember/glow.h"
#include "ember/glow_tags.h"

namespace vantrel::ember {
namespace {

namespace tag = glow_tag;

// The one value inside a context-tagged field.
Result<Tlv> Inner(const Tlv& field, int depth) {
    BerReader reader(field, depth + 1);
    Result<Tlv> inner = reader.Next();
    if (inner.Ok() && !reader.AtEnd()) return Malformed("a field holds more than one value");
    return inner;
}

template <typename T>
Result<T> Read(const Tlv& field, int depth, Result<T> (*read)(const Tlv&)) {
    Result<Tlv> inner = Inner(field, depth);
    if (!inner.Ok()) return inner.GetFailure();
    return read(inner.Value());
}

// Reads an optional field into `out`; false, with the failure kept, when it is malformed.
template <typename T, typename Out>
bool ReadInto(const Tlv& field, int depth, Result<T> (*read)(const Tlv&), Out& out,
              Failure& failure) {
    Result<T> value = Read(field, depth, read);
    if (!value.Ok()) {
        failure = value.GetFailure();
        return false;
    }
    out = static_cast<typename Out::value_type>(value.Value());
    return true;
}

bool IsContext(const Tlv& tlv) { return tlv.tag.tagClass == TagClass::kContext; }

// A primitive, read, as the value it holds.
template <typename T>
Result<Value> AsValue(Result<T> read) {
    if (!read.Ok()) return read.GetFailure();
    return Value(std::move(read.Value()));
}

Result<Value> ReadValue(const Tlv& tlv) {
    if (tlv.tag.tagClass != TagClass::kUniversal || tlv.tag.constructed) {
        return Malformed("a value of no known type");
    }
    switch (tlv.tag.number) {
        case universal::kInteger:
            return AsValue(BerReader::Integer(tlv));
        case universal::kReal:
            return AsValue(BerReader::Real(tlv));
        case universal::kUtf8String:
            return AsValue(BerReader::Utf8(tlv));
        case universal::kBoolean:
            return AsValue(BerReader::Boolean(tlv));
        case universal::kOctetString:
            return AsValue(BerReader::Octets(tlv));
    }
    return Malformed("a value of no known type");
}

// The fields of a SET or SEQUENCE held by `wrapper` ([n] { SET { ... } }), each handed to
// `field` with its context number.
template <typename OnField>
Outcome Fields(const Tlv& wrapper, int depth, std::uint32_t universalType, OnField field) {
    Result<Tlv> body = Inner(wrapper, depth);
    if (!body.Ok()) return body.GetFailure();
    if (!(body.Value().tag == Universal(universalType, true))) {
        return Malformed("a set or sequence expected");
    }
    BerReader reader(body.Value(), depth + 2);
    while (!reader.AtEnd()) {
        Result<Tlv> next = reader.Next();
        if (!next.Ok()) return next.GetFailure();
        if (!IsContext(next.Value())) return Malformed("a field without its context tag");
        Failure failure;
        if (!field(next.Value(), failure)) return failure;
    }
    return {};
}

// A SEQUENCE OF [0] X held by `wrapper`, each X handed to `item`.
template <typename OnItem>
Outcome Items(const Tlv& wrapper, int depth, std::uint32_t universalType, OnItem item) {
    return Fields(wrapper, depth, universalType, [&](const Tlv& field, Failure& failure) {
        if (field.tag.number != 0) return true;
        Result<Tlv> inner = Inner(field, depth + 2);
        if (!inner.Ok()) {
            failure = inner.GetFailure();
            return false;
        }
        return item(inner.Value(), failure);
    });
}

Result<std::vector<Value>> ReadTuple(const Tlv& wrapper, int depth) {
    std::vector<Value> values;
    Outcome read = Items(wrapper, depth, universal::kSequence, [&](const Tlv& v, Failure& f) {
        Result<Value> value = ReadValue(v);
        if (!value.Ok()) f = value.GetFailure();
        if (value.Ok()) values.push_back(value.Value());
        return value.Ok();
    });
    if (!read.Ok()) return read.GetFailure();
    return values;
}

Result<std::vector<TupleItem>> ReadTupleDescription(const Tlv& wrapper, int depth) {
    std::vector<TupleItem> items;
    Outcome read = Items(wrapper, depth, universal::kSequence, [&](const Tlv& d, Failure& f) {
        if (!(d.tag == Application(tag::kTupleItemDescription))) {
            f = Malformed("a tuple's item is not described");
            return false;
        }
        TupleItem item;
        BerReader reader(d, depth + 4);
        while (!reader.AtEnd()) {
            Result<Tlv> field = reader.Next();
            if (!field.Ok()) {
                f = field.GetFailure();
                return false;
            }
            std::optional<std::int64_t> type;
            if (field.Value().tag.number == 0 &&
                !ReadInto(field.Value(), depth + 4, BerReader::Integer, type, f)) {
                return false;
            }
            if (type) item.type = static_cast<ParameterType>(*type);
            if (field.Value().tag.number == 1 &&
                !ReadInto(field.Value(), depth + 4, BerReader::Utf8, item.name, f)) {
                return false;
            }
        }
        items.push_back(item);
        return true;
    });
    if (!read.Ok()) return read.GetFailure();
    return items;
}

Outcome ReadContents(const Tlv& wrapper, int depth, NodeContents& c) {
    return Fields(wrapper, depth, universal::kSet, [&](const Tlv& field, Failure& f) {
        switch (field.tag.number) {
            case 0:
                return ReadInto(field, depth + 2, BerReader::Utf8, c.identifier, f);
            case 1:
                return ReadInto(field, depth + 2, BerReader::Utf8, c.description, f);
            case 2:
                return ReadInto(field, depth + 2, BerReader::Boolean, c.isRoot, f);
            case 3:
                return ReadInto(field, depth + 2, BerReader::Boolean, c.isOnline, f);
        }
        return true;
    });
}

Outcome ReadContents(const Tlv& wrapper, int depth, ParameterContents& c) {
    return Fields(wrapper, depth, universal::kSet, [&](const Tlv& field, Failure& f) {
        const int d = depth + 2;
        std::optional<std::int64_t> number;
        switch (field.tag.number) {
            case 0:
                return ReadInto(field, d, BerReader::Utf8, c.identifier, f);
            case 1:
                return ReadInto(field, d, BerReader::Utf8, c.description, f);
            case 2:
                return ReadInto(field, d, ReadValue, c.value, f);
            case 3:
                return ReadInto(field, d, BerReader::Integer, c.minimum, f);
            case 4:
                return ReadInto(field, d, BerReader::Integer, c.maximum, f);
            case 5:
                if (!ReadInto(field, d, BerReader::Integer, number, f)) return false;
                c.access = static_cast<Access>(*number & 3);
                return true;
            case 7:
                return ReadInto(field, d, BerReader::Utf8, c.enumeration, f);
            case 9:
                return ReadInto(field, d, BerReader::Boolean, c.isOnline, f);
            case 13:
                if (!ReadInto(field, d, BerReader::Integer, number, f)) return false;
                c.type = static_cast<ParameterType>(*number);
                return true;
        }
        return true;
    });
}

Outcome ReadContents(const Tlv& wrapper, int depth, FunctionContents& c) {
    return Fields(wrapper, depth, universal::kSet, [&](const Tlv& field, Failure& f) {
        if (field.tag.number == 0)
            return ReadInto(field, depth + 2, BerReader::Utf8, c.identifier, f);
        if (field.tag.number == 1) {
            return ReadInto(field, depth + 2, BerReader::Utf8, c.description, f);
        }
        if (field.tag.number != 2 && field.tag.number != 3) return true;
        Result<std::vector<TupleItem>> items = ReadTupleDescription(field, depth + 2);
        if (!items.Ok()) {
            f = items.GetFailure();
            return false;
        }
        (field.tag.number == 2 ? c.arguments : c.result) = items.Value();
        return true;
    });
}

Result<Invocation> ReadInvocation(const Tlv& wrapper, int depth) {
    Result<Tlv> body = Inner(wrapper, depth);
    if (!body.Ok()) return body.GetFailure();
    if (!(body.Value().tag == Application(tag::kInvocation))) {
        return Malformed("a command's invocation is not one");
    }
    Invocation invocation;
    BerReader reader(body.Value(), depth + 2);
    while (!reader.AtEnd()) {
        Result<Tlv> field = reader.Next();
        if (!field.Ok()) return field.GetFailure();
        Failure f;
        if (field.Value().tag.number == 0 &&
            !ReadInto(field.Value(), depth + 2, BerReader::Integer, invocation.id, f)) {
            return f;
        }
        if (field.Value().tag.number == 1) {
            Result<std::vector<Value>> arguments = ReadTuple(field.Value(), depth + 2);
            if (!arguments.Ok()) return arguments.GetFailure();
            invocation.arguments = arguments.Value();
        }
    }
    return invocation;
}

Result<Command> ReadCommand(const Tlv& tlv, int depth) {
    Command command;
    bool numbered = false;
    BerReader reader(tlv, depth + 1);
    while (!reader.AtEnd()) {
        Result<Tlv> field = reader.Next();
        if (!field.Ok()) return field.GetFailure();
        Failure f;
        std::optional<std::int64_t> number;
        switch (field.Value().tag.number) {
            case 0:
                if (!ReadInto(field.Value(), depth + 1, BerReader::Integer, number, f)) return f;
                if (*number < 30 || *number > 33) return Malformed("a command of no known kind");
                command.type = static_cast<CommandType>(*number);
                numbered = true;
                break;
            case 1:
                if (!ReadInto(field.Value(), depth + 1, BerReader::Integer, number, f)) return f;
                command.dirFieldMask = static_cast<std::int32_t>(*number);
                break;
            case 2: {
                Result<Invocation> invocation = ReadInvocation(field.Value(), depth + 1);
                if (!invocation.Ok()) return invocation.GetFailure();
                command.invocation = invocation.Value();
                break;
            }
        }
    }
    if (!numbered) return Malformed("a command without its number");
    return command;
}

Result<std::optional<Element>> ReadElement(const Tlv& tlv, int depth, std::size_t& budget);

// Each element read takes one from `budget`; once it is spent, the rest are passed over.
Result<std::vector<Element>> ReadCollection(const Tlv& tlv, int depth, std::size_t& budget) {
    std::vector<Element> elements;
    BerReader reader(tlv, depth + 1);
    while (!reader.AtEnd()) {
        Result<Tlv> field = reader.Next();
        if (!field.Ok()) return field.GetFailure();
        if (!IsContext(field.Value()) || field.Value().tag.number != 0 || budget == 0) continue;
        --budget;
        Result<Tlv> inner = Inner(field.Value(), depth + 1);
        if (!inner.Ok()) return inner.GetFailure();
        Result<std::optional<Element>> element = ReadElement(inner.Value(), depth + 2, budget);
        if (!element.Ok()) return element.GetFailure();
        if (element.Value()) elements.push_back(std::move(*element.Value()));
    }
    return elements;
}

// An element of the subset; nothing for one of another kind (a matrix), which is passed over.
Result<std::optional<Element>> ReadElement(const Tlv& tlv, int depth, std::size_t& budget) {
    Element e;
    if (tlv.tag.tagClass != TagClass::kApplication || !tlv.tag.constructed) {
        return Malformed("an element without its application tag");
    }
    switch (tlv.tag.number) {
        case tag::kCommand: {
            Result<Command> command = ReadCommand(tlv, depth);
            if (!command.Ok()) return command.GetFailure();
            e.kind = ElementKind::kCommand;
            e.command = command.Value();
            return std::optional<Element>(std::move(e));
        }
        case tag::kNode:
        case tag::kQualifiedNode:
            e.kind = ElementKind::kNode;
            e.contents = NodeContents{};
            break;
        case tag::kParameter:
        case tag::kQualifiedParameter:
            e.kind = ElementKind::kParameter;
            e.contents = ParameterContents{};
            break;
        case tag::kFunction:
        case tag::kQualifiedFunction:
            e.kind = ElementKind::kFunction;
            e.contents = FunctionContents{};
            break;
        default:
            return std::optional<Element>();
    }
    e.qualified = tlv.tag.number == tag::kQualifiedNode ||
                  tlv.tag.number == tag::kQualifiedParameter ||
                  tlv.tag.number == tag::kQualifiedFunction;
    bool named = false, hasContents = false;
    BerReader reader(tlv, depth + 1);
    while (!reader.AtEnd()) {
        Result<Tlv> field = reader.Next();
        if (!field.Ok()) return field.GetFailure();
        const Tlv& f = field.Value();
        if (f.tag.number == 0) {
            if (e.qualified) {
                Result<std::vector<std::uint32_t>> path =
                    Read(f, depth + 1, BerReader::RelativeOid);
                if (!path.Ok()) return path.GetFailure();
                e.path = path.Value();
            } else {
                Result<std::int64_t> number = Read(f, depth + 1, BerReader::Integer);
                if (!number.Ok()) return number.GetFailure();
                if (number.Value() < 0 || number.Value() > 0xFFFFFFFFll) {
                    return Malformed("an element's number is out of range");
                }
                e.path = {static_cast<std::uint32_t>(number.Value())};
            }
            named = true;
        } else if (f.tag.number == 1) {
            Outcome read = std::visit(
                [&](auto& c) -> Outcome {
                    if constexpr (std::is_same_v<std::decay_t<decltype(c)>, std::monostate>) {
                        return {};
                    } else {
                        return ReadContents(f, depth + 1, c);
                    }
                },
                e.contents);
            if (!read.Ok()) return read.GetFailure();
            hasContents = true;
        } else if (f.tag.number == 2) {
            Result<Tlv> collection = Inner(f, depth + 1);
            if (!collection.Ok()) return collection.GetFailure();
            if (!(collection.Value().tag == Application(tag::kElementCollection))) {
                return Malformed("an element's children are not a collection");
            }
            Result<std::vector<Element>> children =
                ReadCollection(collection.Value(), depth + 2, budget);
            if (!children.Ok()) return children.GetFailure();
            e.children = std::move(children.Value());
        }
    }
    if (!named) return Malformed("an element without its number or path");
    if (!hasContents) e.contents = std::monostate{};
    return std::optional<Element>(std::move(e));
}

Result<InvocationResult> ReadInvocationResult(const Tlv& tlv, int depth) {
    InvocationResult result;
    BerReader reader(tlv, depth + 1);
    bool hasId = false;
    while (!reader.AtEnd()) {
        Result<Tlv> field = reader.Next();
        if (!field.Ok()) return field.GetFailure();
        Failure f;
        std::optional<std::int64_t> id;
        if (field.Value().tag.number == 0) {
            if (!ReadInto(field.Value(), depth + 1, BerReader::Integer, id, f)) return f;
            result.id = static_cast<std::int32_t>(*id);
            hasId = true;
        }
        if (field.Value().tag.number == 1 &&
            !ReadInto(field.Value(), depth + 1, BerReader::Boolean, result.success, f)) {
            return f;
        }
        if (field.Value().tag.number == 2) {
            Result<std::vector<Value>> values = ReadTuple(field.Value(), depth + 1);
            if (!values.Ok()) return values.GetFailure();
            result.result = values.Value();
        }
    }
    if (!hasId) return Malformed("an invocation's result without its id");
    return result;
}

}  // namespace

Result<Root> DecodeGlow(const Bytes& bytes, std::size_t mostElements) {
    BerReader reader(bytes.data(), bytes.size());
    Result<Tlv> root = reader.Next();
    if (!root.Ok()) return root.GetFailure();
    if (!(root.Value().tag == Application(tag::kRoot))) return Malformed("not a Glow root");
    if (!reader.AtEnd()) return Malformed("bytes after the root");
    Result<Tlv> body = Inner(root.Value(), 0);
    if (!body.Ok()) return body.GetFailure();
    const Tlv& b = body.Value();
    if (b.tag == Application(tag::kRootElementCollection)) {
        Result<std::vector<Element>> elements = ReadCollection(b, 2, mostElements);
        if (!elements.Ok()) return elements.GetFailure();
        return Root{std::move(elements.Value())};
    }
    if (b.tag == Application(tag::kInvocationResult)) {
        Result<InvocationResult> result = ReadInvocationResult(b, 2);
        if (!result.Ok()) return result.GetFailure();
        return Root{result.Value()};
    }
    return Malformed("a root of no kind this provider takes");
}

}  // namespace vantrel::ember
