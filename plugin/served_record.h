// The record of what a made bundle serves: written by `quillmarlow sync`
// into the bundle's Contents/Resources/served.json, read by the bundle's
// factory and processor. The host's scan answers from it alone, without
// Wine. Class ids are FUIDs as 32 hex digits (as moduleinfo.json writes
// them), the same text whichever platform's byte order read them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tandem {

// Relative to the bundle folder.
constexpr const char* kServedRecordFile = "Contents/Resources/served.json";
// The mark of a bundle that sync made (and may refresh or remove).
constexpr const char* kServedRecordMaker = "quillmarlow sync";
constexpr int kServedRecordVersion = 1;

constexpr const char* kAudioModuleClass = "Audio Module Class";
constexpr const char* kComponentControllerClass = "Component Controller Class";

struct ServedBus
{
	std::string mediaType; // "audio" or "event"
	std::string direction; // "input" or "output"
	std::string name;      // UTF-8
	std::int32_t channelCount = 0;
	std::string busType; // "main" or "aux"
	std::uint32_t flags = 0;
};

struct ServedClass
{
	std::string cid;
	std::string category;
	std::string name; // UTF-8, as the other texts
	std::string vendor;
	std::string version;
	std::string sdkVersion;
	std::string subCategories; // "Instrument|Synth"
	std::uint32_t classFlags = 0;
	std::int32_t cardinality = 0x7FFFFFFF;
	// Audio classes: the controller the component names (empty: none), its
	// buses and whether it processes 64-bit samples.
	std::string controller;
	std::vector<ServedBus> buses;
	bool sample64 = false;
};

struct ServedFactoryInfo
{
	std::string vendor;
	std::string url;
	std::string email;
	std::int32_t flags = 0;
};

struct ServedRecord
{
	std::string madeBy = kServedRecordMaker;
	int version = kServedRecordVersion;
	// The Wine prefix, the plug-in as found there (bundle folder or module
	// file), its module file, and the module's path as outpost loads it.
	std::string prefix;
	std::string source;
	std::string module;
	std::string windowsModule;
	// What the module was when read: a change makes sync read it again.
	std::int64_t moduleSize = 0;
	std::int64_t moduleTime = 0;
	// The bridge's library the bundle was made with (size and time).
	std::string bridge;
	// The instance group the user chose for the bundle (`quillmarlow
	// group`): empty for none. Kept when sync refreshes the bundle.
	std::string group;
	ServedFactoryInfo factory;
	std::vector<ServedClass> classes;

	bool isAudio (const ServedClass& c) const { return c.category == kAudioModuleClass; }
};

// A group name: 1 to 64 of A-Z, a-z, 0-9, '.', '_' and '-'.
bool validGroupName (const std::string& name);

// JSON text <-> record. Parsing accepts any bytes; false (with the reason)
// for text that is not a record of this version, or names no valid group.
bool parseServedRecord (const std::string& text, ServedRecord& record, std::string& error);
std::string servedRecordJson (const ServedRecord& record);
// Reads `<bundle>/Contents/Resources/served.json`; false when there is
// none or it is not a record.
bool readServedRecord (const std::string& bundle, ServedRecord& record, std::string& error);

// Parses one class of a class list (the lister prints the same fields);
// false when its id is not 32 hex digits.
bool parseServedClasses (const std::string& classesJson, std::vector<ServedClass>& classes, std::string& error);

// "0123...": 32 hex digits, upper case; false when `text` is not one.
bool normaliseClassId (const std::string& text, std::string& cid);
// The class id's four 32-bit words, as FUID's constructor takes them.
bool classIdWords (const std::string& cid, std::uint32_t words[4]);

} // namespace Tandem
