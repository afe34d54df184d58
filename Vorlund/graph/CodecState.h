// A video encoder's configuration as the codec chooser's "Configure" leaves it: the values of
// its writable properties, by property name, for the compressor it was made for. Kept in
// memory for the program's lifetime; every graph build applies it again to an encoder of the
// same compressor name.
#pragma once

#include "CodecProperties.h"

#include <gst/gst.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

struct CodecState
{
    std::string CodecName; // the compressor these values belong to
    std::map<std::string, std::string> Values; // property name → value as text

    bool IsEmpty() const { return Values.empty(); }
};

// The encoder's readable and writable properties of plain types (not construct-only; not the
// object's own "name" and "parent"), with their current values, in the class's order.
std::vector<CodecProperty> ListCodecProperties(GstElement *encoder);

// Whether `text` is a value the encoder's property `name` takes as it is (in range).
bool AcceptsCodecValue(GstElement *encoder, std::string_view name, std::string_view text);

// Sets the state's values on the encoder when it is the state's compressor (`codecName`);
// values the encoder does not take are skipped. Returns how many were set.
int ApplyCodecState(GstElement *encoder, const CodecState &state, std::string_view codecName);

// The state after the property editor: `before` and `after` are the editor's values when it
// opened and when it closed with OK; the changed ones join the values kept for `codecName`
// (a state kept for another compressor is replaced).
CodecState UpdateCodecState(const CodecState &kept, std::string_view codecName,
                            const std::vector<CodecProperty> &before,
                            const std::vector<CodecProperty> &after);

} // namespace vorlund
