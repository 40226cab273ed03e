#pragma once
// The Glow elements of Ember+ this provider uses, written and read with the BER subset of
// Ber.h: nodes, parameters and functions, plain (a number below their parent) or qualified
// (their whole path), the commands getDirectory, subscribe, unsubscribe and invoke, and the
// invocation's result. Matrices, streams and templates are not used.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dpx::ember {

using Path = std::vector<uint32_t>;
// A parameter's value or a function's argument: none, an integer, a boolean or a text.
using Value = std::variant<std::monostate, int64_t, bool, std::string>;

// ParameterType and ParameterAccess of the Glow schema.
enum class ParameterType { kInteger = 1, kReal = 2, kString = 3, kBoolean = 4, kTrigger = 5, kEnum = 6, kOctets = 7 };
enum class Access { kNone = 0, kRead = 1, kWrite = 2, kReadWrite = 3 };

struct ParameterContents {
    std::optional<std::string> identifier, description;
    Value value;
    std::optional<int64_t> minimum, maximum;
    std::optional<Access> access;
    std::optional<std::string> enumeration;  // the names of the values 0, 1, ..., one a line
    std::optional<bool> online;
    std::optional<ParameterType> type;
    std::vector<std::pair<std::string, int32_t>> enum_map;  // each value's name
};

struct NodeContents {
    std::optional<std::string> identifier, description;
    std::optional<bool> online;
};

struct TupleItem {
    ParameterType type;
    std::string name;
};

struct FunctionContents {
    std::optional<std::string> identifier, description;
    std::vector<TupleItem> arguments, result;
};

// One element of an answer or notification, with its children.
struct Element {
    enum class Kind { kNode, kParameter, kFunction } kind = Kind::kNode;
    Path path;               // the whole path; a plain element writes only its last number
    bool qualified = false;  // written with its path (only at the top of a message)
    bool has_contents = true;
    NodeContents node;
    ParameterContents parameter;
    FunctionContents function;
    std::vector<Element> children;  // written as plain elements
};

// A message of elements (a Root with its RootElementCollection).
std::string EncodeElements(const std::vector<Element>& elements);
// A message with an invocation's result.
std::string EncodeInvocationResult(int32_t invocation_id, bool success, const std::vector<Value>& result);

// What a consumer's message asks for, one action per command or value it holds, in order.
struct Action {
    enum class Kind { kGetDirectory, kSubscribe, kUnsubscribe, kInvoke, kSetValue } kind;
    Path path;                    // the element it is about; empty: the root
    Value value;                  // kSetValue
    int32_t invocation_id = 0;    // kInvoke
    std::vector<Value> arguments;  // kInvoke
};

// The actions of one message. False with `why` when the message is no BER, nests too deep or
// is no Glow Root; elements and values of kinds not read here (matrices, streams, reals) are
// passed over.
bool DecodeRequest(std::string_view message, std::vector<Action>* actions, std::string* why);

// What a provider sends, read back: the elements of a message with their contents and children
// (a qualified one with its path, a plain one below its parent), and an invocation's result.
// Used to check this provider's answers and to read another provider's. False with `why` as
// DecodeRequest; commands, matrices and real values are passed over.
struct InvocationResult {
    int32_t id = 0;
    bool success = true;
    std::vector<Value> result;
};
bool DecodeElements(std::string_view message, std::vector<Element>* elements, std::optional<InvocationResult>* result,
                    std::string* why);

// "1.2.5"
std::string PathText(const Path& path);

}  // namespace dpx::ember
