// A module of several classes, as vendors ship them (tests and bench only):
// an effect and an instrument, each naming its own controller, under a
// vendor, names and sub-categories of their own, listed through
// IPluginFactory3. The effect is Quill; the instrument has no audio input,
// a MIDI input, and fills its output with kSuiteSynthLevel.
#pragma once

#include "pluginterfaces/base/funknown.h"

namespace Quill {

static const Steinberg::FUID kSuiteEffectUID (0x5E17E000, 0x0A1B2C3D, 0x4E5F6071, 0x8293A4B1);
static const Steinberg::FUID kSuiteEffectControllerUID (0x5E17E000, 0x0A1B2C3D, 0x4E5F6071, 0x8293A4B2);
static const Steinberg::FUID kSuiteSynthUID (0x5E17E000, 0x0A1B2C3D, 0x4E5F6071, 0x8293A4B3);
static const Steinberg::FUID kSuiteSynthControllerUID (0x5E17E000, 0x0A1B2C3D, 0x4E5F6071, 0x8293A4B4);

constexpr float kSuiteSynthLevel = 0.25f;
constexpr const char* kSuiteVendor = "Plume Audio";
// A vendor's text as nothing forbids it: quotes, a backslash and control
// characters, which every reader of the classes must keep whole.
constexpr const char* kSuiteQuotedVendor = "Plume \"Audio\" \\ tab\there\nbell\x07";

} // namespace Quill
