#include "plugin/own_message.h"

#include "sdk/ref_counted.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

namespace {

// Attributes by id, each of one of the four kinds a list can hold; a value
// is read back only as the kind it was set as.
class AttributeList : public Tandem::RefCounted<Vst::IAttributeList>
{
public:
	tresult PLUGIN_API setInt (AttrID id, int64 value) override
	{
		return store (id, Kind::Int, [value] (Value& v) { v.integer = value; });
	}
	tresult PLUGIN_API getInt (AttrID id, int64& value) override
	{
		return read (id, Kind::Int, [&value] (const Value& v) { value = v.integer; });
	}
	tresult PLUGIN_API setFloat (AttrID id, double value) override
	{
		return store (id, Kind::Float, [value] (Value& v) { v.real = value; });
	}
	tresult PLUGIN_API getFloat (AttrID id, double& value) override
	{
		return read (id, Kind::Float, [&value] (const Value& v) { value = v.real; });
	}
	tresult PLUGIN_API setString (AttrID id, const Vst::TChar* string) override
	{
		if (!string)
			return kInvalidArgument;
		return store (id, Kind::String, [string] (Value& v) { v.text = string; });
	}
	// `sizeInBytes` is the room at `string`; the copy ends in a 0 that fits.
	tresult PLUGIN_API getString (AttrID id, Vst::TChar* string, uint32 sizeInBytes) override
	{
		if (!string || sizeInBytes < sizeof (Vst::TChar))
			return kResultFalse;
		return read (id, Kind::String, [string, sizeInBytes] (const Value& v) {
			const size_t room = sizeInBytes / sizeof (Vst::TChar) - 1;
			const size_t n = v.text.size () < room ? v.text.size () : room;
			std::memcpy (string, v.text.data (), n * sizeof (Vst::TChar));
			string[n] = 0;
		});
	}
	tresult PLUGIN_API setBinary (AttrID id, const void* data, uint32 sizeInBytes) override
	{
		if (!data && sizeInBytes > 0)
			return kInvalidArgument;
		const auto* bytes = static_cast<const char*> (data);
		return store (id, Kind::Binary,
		              [bytes, sizeInBytes] (Value& v) { v.bytes.assign (bytes, bytes + sizeInBytes); });
	}
	// The data stays valid until the attribute changes or the list goes.
	tresult PLUGIN_API getBinary (AttrID id, const void*& data, uint32& sizeInBytes) override
	{
		return read (id, Kind::Binary, [&data, &sizeInBytes] (const Value& v) {
			data = v.bytes.data ();
			sizeInBytes = static_cast<uint32> (v.bytes.size ());
		});
	}

private:
	enum class Kind
	{
		Int,
		Float,
		String,
		Binary
	};
	struct Value
	{
		explicit Value (Kind k) : kind (k) {}
		Kind kind;
		int64 integer = 0;
		double real = 0.0;
		std::basic_string<Vst::TChar> text;
		std::vector<char> bytes;
	};

	// Replaces attribute `id` with a value of `kind` that `fill` sets.
	template <typename Fill>
	tresult store (AttrID id, Kind kind, Fill fill)
	{
		if (!id)
			return kInvalidArgument;
		fill (values_.insert_or_assign (id, Value (kind)).first->second);
		return kResultOk;
	}
	// Hands attribute `id` to `take` when it is there and of `kind`.
	template <typename Take>
	tresult read (AttrID id, Kind kind, Take take) const
	{
		if (!id)
			return kResultFalse;
		const auto it = values_.find (id);
		if (it == values_.end () || it->second.kind != kind)
			return kResultFalse;
		take (it->second);
		return kResultOk;
	}

	std::map<std::string, Value> values_;
};

class OwnMessage : public Tandem::RefCounted<Vst::IMessage>
{
public:
	OwnMessage () : attributes_ (new AttributeList) {}
	~OwnMessage () override { attributes_->release (); }

	FIDString PLUGIN_API getMessageID () override { return id_.empty () ? nullptr : id_.c_str (); }
	void PLUGIN_API setMessageID (FIDString id) override { id_ = id ? id : ""; }
	// Like a host's message: the list belongs to the message, no reference
	// is handed out.
	Vst::IAttributeList* PLUGIN_API getAttributes () override { return attributes_; }

private:
	std::string id_;
	Vst::IAttributeList* attributes_;
};

} // namespace

Vst::IMessage* newOwnMessage ()
{
	return new OwnMessage;
}

} // namespace QuillMarlow
} // namespace Steinberg
