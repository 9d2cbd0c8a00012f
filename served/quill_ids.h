// Class identifiers and category strings of the Quill plug-in.
#pragma once

#include "pluginterfaces/base/funknown.h"

namespace Quill {

// Two-object build: the audio module and its edit controller.
static const Steinberg::FUID kProcessorUID (0x51C1A7E0, 0x4B1D4E11, 0x9A7F0C3D, 0x2E8B5701);
static const Steinberg::FUID kControllerUID (0x51C1A7E0, 0x4B1D4E11, 0x9A7F0C3D, 0x2E8B5702);
// One-object build: the audio module is its own controller.
static const Steinberg::FUID kSingleUID (0x51C1A7E0, 0x4B1D4E11, 0x9A7F0C3D, 0x2E8B5703);

constexpr const char* kAudioModuleCategory = "Audio Module Class";
constexpr const char* kControllerCategory = "Component Controller Class";

// Message sent through IConnectionPoint, component -> controller on
// connection: the "gain" and "tone" (floats) the audio module runs with, for
// a host that connects the two without calling setComponentState. Edits
// never travel this way: they go through the host's component handler.
constexpr const char* kHelloMessage = "QuillHello";

} // namespace Quill
