// What the MIDI test variant of Quill (quill_midi_mapping.h) answers about
// MIDI controllers, note expressions, keyswitches and its physical UI
// mapping. Free of Win32 and VST 3 types so that the Linux tests check what
// a host sees with the plug-in's own numbers. Its parameters are those of
// the parameters variant (quill_parameters_ids.h).
//
// One event input, "MIDI In" with 16 channels, beside the stereo buses.
//   - Controllers: on channel 0 the mod wheel (1) drives Gain and pitch
//     bend (129) Tone; on channel 15 volume (7) drives Gain; no other.
//     MIDI learn (onLiveMIDIControllerInput on bus 0) assigns the
//     controller moved to Tone, and tells the host with
//     restartComponent(kMidiCCAssignmentChanged).
//   - Note expressions on bus 0, every channel: Volume (type 0, "Vol",
//     "%") and Tuning (type 2, "Tun", "st", bipolar); a value's string is
//     its percent ("25%"), read back the same way.
//   - Keyswitches on bus 0, channel 0: Legato (key 24) and Staccato (25).
//   - Physical UI: X movement maps to Tuning, pressure to Volume, Y movement
//     to none.
//   - The event input's unit: unit 1 (Character) on every channel.
#pragma once

#include <cstdint>

#include "quill_parameters_ids.h"

namespace Quill {

constexpr const char* kMidiBusName = "MIDI In";
constexpr std::int32_t kMidiBusChannels = 16;

struct MidiAssignment
{
	std::int16_t channel;
	std::int16_t controller;
	std::uint32_t id;
};
constexpr MidiAssignment kMidiAssignments[] = {
    {0, 1, kParamGain},
    {0, 129, kParamTone},
    {15, 7, kParamGain},
};
constexpr std::uint32_t kLearnedParam = kParamTone;

struct NoteExpressionDescription
{
	std::uint32_t typeId;
	const char* title;
	const char* shortTitle;
	const char* units;
	bool bipolar;
};
constexpr NoteExpressionDescription kNoteExpressions[] = {
    {0, "Volume", "Vol", "%", false},
    {2, "Tuning", "Tun", "st", true},
};
constexpr std::int32_t kNoteExpressionCount = 2;

struct KeyswitchDescription
{
	const char* title;
	const char* shortTitle;
	std::int32_t key;
};
constexpr KeyswitchDescription kKeyswitches[] = {
    {"Legato", "Leg", 24},
    {"Staccato", "Stc", 25},
};
constexpr std::int32_t kKeyswitchCount = 2;

// Physical UI types (VST 3's kPUIXMovement, kPUIYMovement, kPUIPressure)
// and the note expression each maps to (0xFFFFFFFF: none).
constexpr std::uint32_t kPhysicalUIMap[3] = {2, 0xFFFFFFFFu, 0};

constexpr std::int32_t kMidiBusUnit = kCharacterUnit;

} // namespace Quill
