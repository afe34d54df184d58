#include "CodecState.h"

#include <cstring>
#include <memory>
#include <optional>

namespace vorlund {

namespace {

struct ValueDeleter
{
    void operator()(GValue *v) const
    {
        g_value_unset(v);
        delete v;
    }
};
using Value = std::unique_ptr<GValue, ValueDeleter>;

Value MakeValue(GType type)
{
    auto *v = new GValue G_VALUE_INIT;
    g_value_init(v, type);
    return Value(v);
}

bool Editable(const GParamSpec *spec)
{
    const GParamFlags flags = spec->flags;
    return (flags & G_PARAM_READABLE) && (flags & G_PARAM_WRITABLE)
        && !(flags & G_PARAM_CONSTRUCT_ONLY) && std::strcmp(spec->name, "name") != 0
        && std::strcmp(spec->name, "parent") != 0;
}

std::optional<CodecProperty::Kind> KindOf(GType type)
{
    switch (G_TYPE_FUNDAMENTAL(type)) {
    case G_TYPE_BOOLEAN:
        return CodecProperty::Kind::Boolean;
    case G_TYPE_INT:
    case G_TYPE_UINT:
    case G_TYPE_LONG:
    case G_TYPE_ULONG:
    case G_TYPE_INT64:
    case G_TYPE_UINT64:
        return CodecProperty::Kind::Integer;
    case G_TYPE_FLOAT:
    case G_TYPE_DOUBLE:
        return CodecProperty::Kind::Real;
    case G_TYPE_ENUM:
        return CodecProperty::Kind::Choice;
    case G_TYPE_FLAGS:
        return CodecProperty::Kind::Flags;
    case G_TYPE_STRING:
        return CodecProperty::Kind::Text;
    default:
        return std::nullopt;
    }
}

std::string ToText(const GValue *value)
{
    const GType type = G_VALUE_TYPE(value);
    if (G_TYPE_FUNDAMENTAL(type) == G_TYPE_STRING) {
        const char *s = g_value_get_string(value);
        return s ? std::string(s) : std::string();
    }
    if (G_TYPE_FUNDAMENTAL(type) == G_TYPE_BOOLEAN)
        return g_value_get_boolean(value) ? "true" : "false";
    if (G_TYPE_FUNDAMENTAL(type) == G_TYPE_ENUM) {
        GEnumClass *klass = G_ENUM_CLASS(g_type_class_ref(type));
        const GEnumValue *e = g_enum_get_value(klass, g_value_get_enum(value));
        std::string text = e ? e->value_nick : std::to_string(g_value_get_enum(value));
        g_type_class_unref(klass);
        return text;
    }
    gchar *s = gst_value_serialize(value);
    std::string text = s ? s : "";
    g_free(s);
    return text;
}

GParamSpec *EditableSpec(GstElement *encoder, std::string_view name)
{
    if (!encoder || name.empty() || name.size() > 256)
        return nullptr;
    const std::string key(name);
    GParamSpec *spec = g_object_class_find_property(G_OBJECT_GET_CLASS(encoder), key.c_str());
    return spec && Editable(spec) && KindOf(spec->value_type) ? spec : nullptr;
}

// The value `text` gives the property, or null when it is no value of it (or out of range).
Value ParseValue(GParamSpec *spec, std::string_view text)
{
    if (text.size() > kMaxCodecValueBytes)
        return nullptr;
    const std::string s(text);
    Value value = MakeValue(spec->value_type);
    if (G_TYPE_FUNDAMENTAL(spec->value_type) == G_TYPE_STRING) {
        g_value_set_string(value.get(), s.c_str());
    } else if (s.empty() || !gst_value_deserialize(value.get(), s.c_str())) {
        return nullptr;
    }
    // Validation changes a value it would refuse: out of range is no value.
    if (g_param_value_validate(spec, value.get()))
        return nullptr;
    return value;
}

} // namespace

std::vector<CodecProperty> ListCodecProperties(GstElement *encoder)
{
    std::vector<CodecProperty> list;
    if (!encoder)
        return list;
    guint count = 0;
    GParamSpec **specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(encoder), &count);
    for (guint i = 0; i < count && list.size() < kMaxCodecProperties; ++i) {
        GParamSpec *spec = specs[i];
        const std::optional<CodecProperty::Kind> kind = KindOf(spec->value_type);
        if (!Editable(spec) || !kind)
            continue;
        CodecProperty p;
        p.name = spec->name;
        p.nick = g_param_spec_get_nick(spec) ? g_param_spec_get_nick(spec) : spec->name;
        p.blurb = g_param_spec_get_blurb(spec) ? g_param_spec_get_blurb(spec) : "";
        p.kind = *kind;
        Value value = MakeValue(spec->value_type);
        g_object_get_property(G_OBJECT(encoder), spec->name, value.get());
        p.value = ToText(value.get());
        if (p.kind == CodecProperty::Kind::Choice) {
            GEnumClass *klass = G_ENUM_CLASS(g_type_class_ref(spec->value_type));
            for (guint v = 0; v < klass->n_values; ++v)
                p.choices.emplace_back(klass->values[v].value_nick);
            g_type_class_unref(klass);
        }
        list.push_back(std::move(p));
    }
    g_free(specs);
    return list;
}

bool AcceptsCodecValue(GstElement *encoder, std::string_view name, std::string_view text)
{
    GParamSpec *spec = EditableSpec(encoder, name);
    return spec && ParseValue(spec, text);
}

int ApplyCodecState(GstElement *encoder, const CodecState &state, std::string_view codecName)
{
    if (!encoder || state.CodecName != codecName)
        return 0;
    int applied = 0;
    for (const auto &[name, text] : state.Values) {
        GParamSpec *spec = EditableSpec(encoder, name);
        Value value = spec ? ParseValue(spec, text) : nullptr;
        if (!value)
            continue;
        g_object_set_property(G_OBJECT(encoder), spec->name, value.get());
        ++applied;
    }
    return applied;
}

CodecState UpdateCodecState(const CodecState &kept, std::string_view codecName,
                            const std::vector<CodecProperty> &before,
                            const std::vector<CodecProperty> &after)
{
    CodecState state;
    state.CodecName = std::string(codecName);
    if (kept.CodecName == codecName)
        state.Values = kept.Values;
    std::map<std::string, const CodecProperty *> opened;
    for (const CodecProperty &p : before)
        opened[p.name] = &p;
    for (const CodecProperty &p : after) {
        const auto was = opened.find(p.name);
        if (was == opened.end() || was->second->value != p.value)
            state.Values[p.name] = p.value;
    }
    return state;
}

} // namespace vorlund
