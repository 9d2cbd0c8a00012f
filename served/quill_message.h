// A self-made IMessage for the component/controller connection. The host's
// context may not create messages (IHostApplication::createInstance is
// allowed to refuse), so Quill brings its own.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pluginterfaces/vst/ivstattributes.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "quill_live_object.h"
#include "sdk/ref_counted.h"

namespace Quill {

class QuillAttributes : public Tandem::RefCounted<Steinberg::Vst::IAttributeList>, private LiveObject
{
public:
	Steinberg::tresult PLUGIN_API setInt (AttrID id, Steinberg::int64 value) override;
	Steinberg::tresult PLUGIN_API getInt (AttrID id, Steinberg::int64& value) override;
	Steinberg::tresult PLUGIN_API setFloat (AttrID id, double value) override;
	Steinberg::tresult PLUGIN_API getFloat (AttrID id, double& value) override;
	Steinberg::tresult PLUGIN_API setString (AttrID id, const Steinberg::Vst::TChar* string) override;
	Steinberg::tresult PLUGIN_API getString (AttrID id, Steinberg::Vst::TChar* string,
	                                         Steinberg::uint32 sizeInBytes) override;
	Steinberg::tresult PLUGIN_API setBinary (AttrID id, const void* data, Steinberg::uint32 sizeInBytes) override;
	Steinberg::tresult PLUGIN_API getBinary (AttrID id, const void*& data, Steinberg::uint32& sizeInBytes) override;

private:
	virtual ~QuillAttributes () = default;
	const double* find (AttrID id) const;

	std::vector<std::pair<std::string, double>> numbers_; // ints are stored exactly as doubles
};

class QuillMessage : public Tandem::RefCounted<Steinberg::Vst::IMessage>, private LiveObject
{
public:
	QuillMessage ();

	Steinberg::FIDString PLUGIN_API getMessageID () override { return id_.c_str (); }
	void PLUGIN_API setMessageID (Steinberg::FIDString id) override { id_ = id ? id : ""; }
	Steinberg::Vst::IAttributeList* PLUGIN_API getAttributes () override { return attributes_; }

private:
	virtual ~QuillMessage ();

	std::string id_;
	QuillAttributes* attributes_;
};

} // namespace Quill
