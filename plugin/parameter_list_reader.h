// ParameterListReader: the served controller's parameters on the Linux side,
// as the plug-in's controller shows them to the host. It keeps a copy of
// the list outpost published (so that the host reads one list, however
// often outpost publishes another, until it is told of the change), reads
// the values outpost publishes, hands the host's values to outpost, and
// asks outpost's main thread for what only the served controller can
// answer, within kAnswerWait. Host's user-interface thread only.
#pragma once

#include "protocol/parameter_data.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstunits.h"

#include <chrono>
#include <functional>
#include <unordered_map>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

class ParameterListReader
{
public:
	// How long the host waits for outpost's answer to one request, and for
	// an outpost being started to publish its list.
	static constexpr std::chrono::milliseconds kAnswerWait {100};
	static constexpr std::chrono::seconds kStartWait {12};

	// The processor whose outpost serves the parameters.
	void follow (int32 instanceId);
	// The processor followed (after follow).
	int32 instanceId () const { return instanceId_; }
	// Whether a list was copied.
	bool copied () const { return copied_; }
	// The processor followed; false while there is none.
	bool following (int32& instanceId) const
	{
		instanceId = instanceId_;
		return following_;
	}
	// Whether the host hears the served controller's edits (it gave us a
	// component handler): outpost relays them only then.
	void setListening (bool listening);

	// Copies outpost's list when it differs from the copy; waits for an
	// outpost being started when there is no copy yet and `wait`. Returns
	// the restartComponent flags the host needs for the change (0 when the
	// copy is unchanged or the first).
	int32 refresh (bool wait);
	// A relaunched outpost: gives it back the values the host set here
	// since (the state it is given holds the rest). False when there was no
	// new relaunch.
	bool followRelaunch ();

	int32 count () const { return static_cast<int32> (parameters_.size ()); }
	bool info (int32 index, Vst::ParameterInfo& info) const;
	Vst::ParamValue value (Vst::ParamID id);
	tresult setValue (Vst::ParamID id, Vst::ParamValue value);
	// An edit the served controller reported: the value it now has.
	void edited (Vst::ParamID id, Vst::ParamValue value);

	tresult stringByValue (Vst::ParamID id, Vst::ParamValue value, Vst::String128 string);
	tresult valueByString (Vst::ParamID id, const Vst::TChar* string, Vst::ParamValue& value);
	Vst::ParamValue toPlain (Vst::ParamID id, Vst::ParamValue normalized);
	Vst::ParamValue toNormalized (Vst::ParamID id, Vst::ParamValue plain);

	int32 unitCount () const { return static_cast<int32> (units_.size ()); }
	bool unit (int32 index, Vst::UnitInfo& info) const;
	int32 programListCount () const { return static_cast<int32> (programLists_.size ()); }
	bool programList (int32 index, Vst::ProgramListInfo& info) const;
	tresult programName (Vst::ProgramListID list, int32 index, Vst::String128 name);

	// Takes the next edit or announcement outpost relayed; false when none.
	bool nextEdit (Tandem::RingEntry& entry);

	// Asks outpost; false when it gave no answer in time (or cannot).
	// `post` writes further arguments into the region before the request
	// is posted, `take` reads further answers once it was answered.
	using RegionAccess = std::function<void (Tandem::ParameterData&)>;
	// Runs `use` on the followed processor's region; false when there is none.
	bool withRegion (const RegionAccess& use);
	bool ask (Tandem::ParameterRequestKind kind, Vst::ParamID id, double value, int32 index, const Vst::TChar* text,
	          Tandem::ParameterRequest& answer, const RegionAccess& post = nullptr, const RegionAccess& take = nullptr);

private:
	// The list index of `id`, with the list copied first if it never was.
	bool known (Vst::ParamID id, int32& index);
	// Copies outpost's list if it has published one; false otherwise.
	bool copyList (Tandem::ParameterData& region);
	// Moves host values that found the ring full into it.
	void sendHeldValues (Tandem::ParameterData& region);

	bool following_ = false;
	int32 instanceId_ = 0;
	bool listening_ = false;
	bool copied_ = false;
	uint32 sequence_ = 0;
	int32 relaunches_ = 0;
	std::vector<Vst::ParameterInfo> parameters_;
	std::vector<Vst::UnitInfo> units_;
	std::vector<Vst::ProgramListInfo> programLists_;
	std::unordered_map<Vst::ParamID, int32> indexOf_;
	// The last value known of each parameter, and values set here that
	// outpost has not published yet (with the entry's sequence then).
	std::vector<Vst::ParamValue> values_;
	struct Override
	{
		Vst::ParamValue value;
		uint32 sequence;
	};
	std::unordered_map<Vst::ParamID, Override> overrides_;
	std::vector<Tandem::RingEntry> heldValues_;
	std::unordered_map<Vst::ParamID, Vst::ParamValue> hostSet_;
	// outpost left a request unanswered beyond kAnswerWait: later ones do
	// not wait until it answers again.
	bool silenceReported_ = false;
};

} // namespace QuillMarlow
} // namespace Steinberg
