#include "ember/Glow.h"

#include "ember/Ber.h"

namespace dpx::ember {
namespace {

// Application tags of the Glow schema.
namespace app {
constexpr uint32_t kRoot = 0;
constexpr uint32_t kParameter = 1;
constexpr uint32_t kCommand = 2;
constexpr uint32_t kNode = 3;
constexpr uint32_t kElementCollection = 4;
constexpr uint32_t kStringIntegerPair = 7;
constexpr uint32_t kStringIntegerCollection = 8;
constexpr uint32_t kQualifiedParameter = 9;
constexpr uint32_t kQualifiedNode = 10;
constexpr uint32_t kRootElementCollection = 11;
constexpr uint32_t kFunction = 19;
constexpr uint32_t kQualifiedFunction = 20;
constexpr uint32_t kTupleItemDescription = 21;
constexpr uint32_t kInvocation = 22;
constexpr uint32_t kInvocationResult = 23;
}  // namespace app

// Command numbers.
constexpr int64_t kSubscribe = 30;
constexpr int64_t kUnsubscribe = 31;
constexpr int64_t kGetDirectory = 32;
constexpr int64_t kInvoke = 33;

// ---------------------------------------------------------------- writing

// [n] with one value inside (the schema's explicit tags).
template <typename Write>
void Field(Writer& w, uint32_t n, Write write) {
    w.Begin(Context(n));
    write();
    w.End();
}

void WriteValue(Writer& w, const Value& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) w.Integer(*i);
    else if (const auto* b = std::get_if<bool>(&v)) w.Boolean(*b);
    else if (const auto* s = std::get_if<std::string>(&v)) w.Utf8(*s);
}

void WriteText(Writer& w, uint32_t n, const std::optional<std::string>& text) {
    if (text) Field(w, n, [&] { w.Utf8(*text); });
}

void WriteTuple(Writer& w, uint32_t n, const std::vector<TupleItem>& items) {
    if (items.empty()) return;
    Field(w, n, [&] {
        w.Begin(Universal(universal::kSequence));
        for (const TupleItem& item : items) {
            Field(w, 0, [&] {
                w.Begin(Application(app::kTupleItemDescription));
                Field(w, 0, [&] { w.Integer(static_cast<int>(item.type)); });
                Field(w, 1, [&] { w.Utf8(item.name); });
                w.End();
            });
        }
        w.End();
    });
}

void WriteContents(Writer& w, const Element& e) {
    w.Begin(Universal(universal::kSet));
    if (e.kind == Element::Kind::kNode) {
        const NodeContents& c = e.node;
        WriteText(w, 0, c.identifier);
        WriteText(w, 1, c.description);
        if (c.online) Field(w, 3, [&] { w.Boolean(*c.online); });
    } else if (e.kind == Element::Kind::kFunction) {
        const FunctionContents& c = e.function;
        WriteText(w, 0, c.identifier);
        WriteText(w, 1, c.description);
        WriteTuple(w, 2, c.arguments);
        WriteTuple(w, 3, c.result);
    } else {
        const ParameterContents& c = e.parameter;
        WriteText(w, 0, c.identifier);
        WriteText(w, 1, c.description);
        if (!std::holds_alternative<std::monostate>(c.value)) Field(w, 2, [&] { WriteValue(w, c.value); });
        if (c.minimum) Field(w, 3, [&] { w.Integer(*c.minimum); });
        if (c.maximum) Field(w, 4, [&] { w.Integer(*c.maximum); });
        if (c.access) Field(w, 5, [&] { w.Integer(static_cast<int>(*c.access)); });
        WriteText(w, 7, c.enumeration);
        if (c.online) Field(w, 9, [&] { w.Boolean(*c.online); });
        if (c.type) Field(w, 13, [&] { w.Integer(static_cast<int>(*c.type)); });
        if (!c.enum_map.empty()) {
            Field(w, 15, [&] {
                w.Begin(Application(app::kStringIntegerCollection));
                for (const auto& entry : c.enum_map) {
                    Field(w, 0, [&] {
                        w.Begin(Application(app::kStringIntegerPair));
                        Field(w, 0, [&] { w.Utf8(entry.first); });
                        Field(w, 1, [&] { w.Integer(entry.second); });
                        w.End();
                    });
                }
                w.End();
            });
        }
    }
    w.End();
}

void WriteElement(Writer& w, const Element& e, bool qualified) {
    uint32_t tag = 0;
    switch (e.kind) {
        case Element::Kind::kNode: tag = qualified ? app::kQualifiedNode : app::kNode; break;
        case Element::Kind::kParameter: tag = qualified ? app::kQualifiedParameter : app::kParameter; break;
        case Element::Kind::kFunction: tag = qualified ? app::kQualifiedFunction : app::kFunction; break;
    }
    w.Begin(Application(tag));
    Field(w, 0, [&] {
        if (qualified) w.RelativeOid(e.path);
        else w.Integer(e.path.empty() ? 0 : e.path.back());
    });
    if (e.has_contents) Field(w, 1, [&] { WriteContents(w, e); });
    if (!e.children.empty()) {
        Field(w, 2, [&] {
            w.Begin(Application(app::kElementCollection));
            for (const Element& child : e.children) Field(w, 0, [&] { WriteElement(w, child, false); });
            w.End();
        });
    }
    w.End();
}

// ---------------------------------------------------------------- reading

Value ReadValue(const Tlv& tlv) {
    if (tlv.tag == Universal(universal::kInteger)) {
        if (int64_t i = 0; ReadInteger(tlv, &i)) return i;
    } else if (tlv.tag == Universal(universal::kBoolean)) {
        if (bool b = false; ReadBoolean(tlv, &b)) return b;
    } else if (tlv.tag == Universal(universal::kUtf8String)) {
        if (std::string s; ReadUtf8(tlv, &s)) return s;
    }
    return {};
}

// The elements inside a collection (RootElementCollection or ElementCollection): each is [0]
// and one element, handed to `visit(reader, element)`; false when one fails or the bytes do.
template <class Visit>
bool EachElement(Reader r, const Visit& visit) {
    Tlv item;
    while (r.Next(&item)) {
        if (item.tag != Context(0)) continue;
        Reader inner = r.Enter(item);
        Tlv element;
        while (inner.Next(&element))
            if (!visit(inner, element)) return false;
        if (inner.Failed()) return false;
    }
    return !r.Failed();
}

class RequestReader {
public:
    explicit RequestReader(std::vector<Action>* actions) : actions_(*actions) {}

    bool Collection(Reader r, const Path& parent) {
        return EachElement(r, [&](Reader& in, const Tlv& element) { return Element(in, element, parent); });
    }

private:
    bool Element(Reader& level, const Tlv& tlv, const Path& parent) {
        if (tlv.tag.cls != TagClass::kApplication || !tlv.constructed) return true;
        const uint32_t n = tlv.tag.number;
        if (n == app::kCommand) return Command(level.Enter(tlv), parent);
        const bool plain = n == app::kNode || n == app::kParameter || n == app::kFunction;
        const bool qualified = n == app::kQualifiedNode || n == app::kQualifiedParameter || n == app::kQualifiedFunction;
        if (!plain && !qualified) return true;  // a matrix, a template, ...: not served here
        const bool parameter = n == app::kParameter || n == app::kQualifiedParameter;
        Reader r = level.Enter(tlv);
        std::optional<Path> path;
        std::optional<Value> value;
        std::optional<Reader> children;
        Tlv field;
        while (r.Next(&field)) {
            Reader inner = r.Enter(field);
            Tlv v;
            if (field.tag == Context(0) && inner.Next(&v)) {
                if (int64_t number = 0; plain && ReadInteger(v, &number)) {
                    if (number < 0 || number > UINT32_MAX) return false;
                    path = parent;
                    path->push_back(static_cast<uint32_t>(number));
                } else if (Path p; qualified && ReadRelativeOid(v, &p)) {
                    path = p;
                }
            } else if (field.tag == Context(1) && parameter && inner.Next(&v)) {
                value = Contents(inner.Enter(v));
            } else if (field.tag == Context(2)) {
                children = inner;
            }
            if (inner.Failed()) return false;
        }
        if (r.Failed() || !path) return !r.Failed() && path.has_value();
        if (value) actions_.push_back({Action::Kind::kSetValue, *path, std::move(*value), 0, {}});
        if (children) {
            Tlv collection;
            while (children->Next(&collection))
                if (collection.tag == Application(app::kElementCollection) && !Collection(children->Enter(collection), *path))
                    return false;
            if (children->Failed()) return false;
        }
        return true;
    }

    // A parameter's contents: the value, if it has one.
    static std::optional<Value> Contents(Reader set) {
        Tlv field;
        while (set.Next(&field)) {
            if (field.tag != Context(2)) continue;
            Reader inner = set.Enter(field);
            Tlv v;
            if (inner.Next(&v)) return ReadValue(v);
        }
        return std::nullopt;
    }

    bool Command(Reader r, const Path& path) {
        int64_t number = -1;
        Action action{Action::Kind::kGetDirectory, path, {}, 0, {}};
        Tlv field;
        while (r.Next(&field)) {
            Reader inner = r.Enter(field);
            Tlv v;
            if (field.tag == Context(0) && inner.Next(&v)) {
                ReadInteger(v, &number);
            } else if (field.tag == Context(2) && inner.Next(&v) && v.tag == Application(app::kInvocation)) {
                if (!Invocation(inner.Enter(v), &action)) return false;
            }
            if (inner.Failed()) return false;
        }
        if (r.Failed()) return false;
        switch (number) {
            case kGetDirectory: action.kind = Action::Kind::kGetDirectory; break;
            case kSubscribe: action.kind = Action::Kind::kSubscribe; break;
            case kUnsubscribe: action.kind = Action::Kind::kUnsubscribe; break;
            case kInvoke: action.kind = Action::Kind::kInvoke; break;
            default: return true;  // no command served here
        }
        actions_.push_back(std::move(action));
        return true;
    }

    static bool Invocation(Reader r, Action* action) {
        Tlv field;
        while (r.Next(&field)) {
            Reader inner = r.Enter(field);
            Tlv v;
            if (field.tag == Context(0) && inner.Next(&v)) {
                if (int64_t id = 0; ReadInteger(v, &id)) action->invocation_id = static_cast<int32_t>(id);
            } else if (field.tag == Context(1) && inner.Next(&v)) {
                Reader tuple = inner.Enter(v);
                Tlv item;
                while (tuple.Next(&item)) {
                    Reader value = tuple.Enter(item);
                    Tlv x;
                    if (item.tag == Context(0) && value.Next(&x)) action->arguments.push_back(ReadValue(x));
                    if (value.Failed()) return false;
                }
                if (tuple.Failed()) return false;
            }
            if (inner.Failed()) return false;
        }
        return !r.Failed();
    }

    std::vector<Action>& actions_;
};

// Reads the elements of a provider's message.
class ElementReader {
public:
    bool Collection(Reader r, const Path& parent, std::vector<Element>* out) {
        return EachElement(r, [&](Reader& in, const Tlv& element) { return One(in, element, parent, out); });
    }

private:
    bool One(Reader& level, const Tlv& tlv, const Path& parent, std::vector<Element>* out) {
        if (tlv.tag.cls != TagClass::kApplication || !tlv.constructed) return true;
        Element e;
        switch (tlv.tag.number) {
            case app::kNode: case app::kQualifiedNode: e.kind = Element::Kind::kNode; break;
            case app::kParameter: case app::kQualifiedParameter: e.kind = Element::Kind::kParameter; break;
            case app::kFunction: case app::kQualifiedFunction: e.kind = Element::Kind::kFunction; break;
            default: return true;
        }
        e.qualified = tlv.tag.number == app::kQualifiedNode || tlv.tag.number == app::kQualifiedParameter ||
                      tlv.tag.number == app::kQualifiedFunction;
        e.has_contents = false;
        bool numbered = false;
        Reader r = level.Enter(tlv);
        Tlv field;
        while (r.Next(&field)) {
            Reader inner = r.Enter(field);
            Tlv v;
            if (field.tag == Context(0) && inner.Next(&v)) {
                int64_t number = 0;
                if (!e.qualified && ReadInteger(v, &number) && number >= 0 && number <= UINT32_MAX) {
                    e.path = parent;
                    e.path.push_back(static_cast<uint32_t>(number));
                    numbered = true;
                } else if (e.qualified && ReadRelativeOid(v, &e.path)) {
                    numbered = true;
                }
            } else if (field.tag == Context(1) && inner.Next(&v)) {
                e.has_contents = true;
                if (!Contents(inner.Enter(v), &e)) return false;
            } else if (field.tag == Context(2) && inner.Next(&v) && v.tag == Application(app::kElementCollection)) {
                if (!numbered || !Collection(inner.Enter(v), e.path, &e.children)) return false;
            }
            if (inner.Failed()) return false;
        }
        if (r.Failed() || !numbered) return false;
        out->push_back(std::move(e));
        return true;
    }

    static std::optional<std::string> Text(const Tlv& v) {
        std::string s;
        if (!ReadUtf8(v, &s)) return std::nullopt;
        return s;
    }

    // A collection of wrapped sets of context-tagged fields (a tuple's items, an enum map's
    // entries): each element starts as `T{}`, takes its fields through `take(element, tag,
    // value)` and is appended to `out`.
    template <class T, class Take>
    static bool Collection(Reader r, std::vector<T>* out, const Take& take) {
        Tlv collection, item, set, field, v;
        if (!r.Next(&collection)) return !r.Failed();
        Reader in = r.Enter(collection);
        while (in.Next(&item)) {
            Reader wrapped = in.Enter(item);
            if (!wrapped.Next(&set)) return false;
            Reader fields = wrapped.Enter(set);
            T element{};
            while (fields.Next(&field)) {
                Reader x = fields.Enter(field);
                if (!x.Next(&v)) return false;
                take(element, field.tag, v);
            }
            if (fields.Failed()) return false;
            out->push_back(std::move(element));
        }
        return !in.Failed();
    }

    static bool Tuple(Reader r, std::vector<TupleItem>* items) {
        return Collection(r, items, [](TupleItem& t, const Tag& tag, const Tlv& v) {
            int64_t type = 0;
            if (tag == Context(0) && ReadInteger(v, &type)) t.type = static_cast<ParameterType>(type);
            else if (tag == Context(1)) ReadUtf8(v, &t.name);
        });
    }

    static bool EnumMap(Reader r, std::vector<std::pair<std::string, int32_t>>* map) {
        return Collection(r, map, [](std::pair<std::string, int32_t>& entry, const Tag& tag, const Tlv& v) {
            int64_t n = 0;
            if (tag == Context(0)) ReadUtf8(v, &entry.first);
            else if (tag == Context(1) && ReadInteger(v, &n)) entry.second = static_cast<int32_t>(n);
        });
    }

    static bool Contents(Reader set, Element* e) {
        Tlv field, v;
        while (set.Next(&field)) {
            Reader inner = set.Enter(field);
            const uint32_t n = field.tag.number;
            if (field.tag.cls != TagClass::kContext) continue;
            if (e->kind == Element::Kind::kFunction && (n == 2 || n == 3)) {
                if (!Tuple(inner, n == 2 ? &e->function.arguments : &e->function.result)) return false;
                continue;
            }
            if (e->kind == Element::Kind::kParameter && n == 15) {
                if (!EnumMap(inner, &e->parameter.enum_map)) return false;
                continue;
            }
            if (!inner.Next(&v)) {
                if (inner.Failed()) return false;
                continue;
            }
            int64_t i = 0;
            bool b = false;
            if (e->kind == Element::Kind::kNode) {
                NodeContents& c = e->node;
                if (n == 0) c.identifier = Text(v);
                else if (n == 1) c.description = Text(v);
                else if (n == 3 && ReadBoolean(v, &b)) c.online = b;
            } else if (e->kind == Element::Kind::kFunction) {
                if (n == 0) e->function.identifier = Text(v);
                else if (n == 1) e->function.description = Text(v);
            } else {
                ParameterContents& c = e->parameter;
                if (n == 0) c.identifier = Text(v);
                else if (n == 1) c.description = Text(v);
                else if (n == 2) c.value = ReadValue(v);
                else if (n == 3 && ReadInteger(v, &i)) c.minimum = i;
                else if (n == 4 && ReadInteger(v, &i)) c.maximum = i;
                else if (n == 5 && ReadInteger(v, &i)) c.access = static_cast<Access>(i);
                else if (n == 7) c.enumeration = Text(v);
                else if (n == 9 && ReadBoolean(v, &b)) c.online = b;
                else if (n == 13 && ReadInteger(v, &i)) c.type = static_cast<ParameterType>(i);
            }
        }
        return !set.Failed();
    }
};

bool Result(Reader r, InvocationResult* result) {
    Tlv field, v, item;
    while (r.Next(&field)) {
        Reader inner = r.Enter(field);
        if (!inner.Next(&v)) return false;
        int64_t id = 0;
        if (field.tag == Context(0) && ReadInteger(v, &id)) {
            result->id = static_cast<int32_t>(id);
        } else if (field.tag == Context(1)) {
            ReadBoolean(v, &result->success);
        } else if (field.tag == Context(2)) {
            Reader tuple = inner.Enter(v);
            while (tuple.Next(&item)) {
                Reader value = tuple.Enter(item);
                Tlv x;
                if (value.Next(&x)) result->result.push_back(ReadValue(x));
                if (value.Failed()) return false;
            }
            if (tuple.Failed()) return false;
        }
    }
    return !r.Failed();
}

}  // namespace

bool DecodeElements(std::string_view message, std::vector<Element>* elements, std::optional<InvocationResult>* result,
                    std::string* why) {
    Reader r(message);
    Tlv root;
    if (!r.Next(&root) || root.tag != Application(app::kRoot) || !root.constructed) {
        *why = r.Failed() ? "a message that is no BER (or nests too deep)" : "a message that is no Glow Root";
        return false;
    }
    Reader in = r.Enter(root);
    Tlv inner;
    bool ok = true;
    while (ok && in.Next(&inner)) {
        if (inner.tag == Application(app::kRootElementCollection)) {
            ok = ElementReader().Collection(in.Enter(inner), {}, elements);
        } else if (inner.tag == Application(app::kInvocationResult) && result) {
            InvocationResult r;
            ok = Result(in.Enter(inner), &r);
            *result = std::move(r);
        }
    }
    if (!ok || in.Failed()) {
        *why = "a Glow message that is malformed or nests too deep";
        return false;
    }
    return true;
}

std::string EncodeElements(const std::vector<Element>& elements) {
    Writer w;
    w.Begin(Application(app::kRoot));
    w.Begin(Application(app::kRootElementCollection));
    for (const Element& e : elements) Field(w, 0, [&] { WriteElement(w, e, e.qualified); });
    w.End();
    w.End();
    return w.Bytes();
}

std::string EncodeInvocationResult(int32_t invocation_id, bool success, const std::vector<Value>& result) {
    Writer w;
    w.Begin(Application(app::kRoot));
    w.Begin(Application(app::kInvocationResult));
    Field(w, 0, [&] { w.Integer(invocation_id); });
    Field(w, 1, [&] { w.Boolean(success); });
    if (!result.empty()) {
        Field(w, 2, [&] {
            w.Begin(Universal(universal::kSequence));
            for (const Value& v : result) Field(w, 0, [&] { WriteValue(w, v); });
            w.End();
        });
    }
    w.End();
    w.End();
    return w.Bytes();
}

bool DecodeRequest(std::string_view message, std::vector<Action>* actions, std::string* why) {
    Reader r(message);
    Tlv root;
    if (!r.Next(&root) || root.tag != Application(app::kRoot) || !root.constructed) {
        *why = r.Failed() ? "a message that is no BER (or nests too deep)" : "a message that is no Glow Root";
        return false;
    }
    RequestReader reader(actions);
    Reader in = r.Enter(root);
    Tlv collection;
    bool ok = true;
    while (ok && in.Next(&collection))
        if (collection.tag == Application(app::kRootElementCollection)) ok = reader.Collection(in.Enter(collection), {});
    if (!ok || in.Failed()) {
        *why = "a Glow message that is malformed or nests too deep";
        return false;
    }
    return true;
}

std::string PathText(const Path& path) {
    std::string text;
    for (uint32_t n : path) text += (text.empty() ? "" : ".") + std::to_string(n);
    return text;
}

}  // namespace dpx::ember
