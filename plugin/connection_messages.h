// The message the processor sends its controller over the connection the
// host makes between them: the processor's instance id, which tells the
// controller whose outpost its editor is to show.
#pragma once

namespace Steinberg {
namespace QuillMarlow {

constexpr const char* kProcessorIdMessage = "QuillMarlowProcessorId";
constexpr const char* kProcessorIdAttribute = "instanceId";

} // namespace QuillMarlow
} // namespace Steinberg
