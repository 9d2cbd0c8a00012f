#include "plugin/served_factory.h"

#include "plugin/controller.h"
#include "plugin/plugids.h"
#include "plugin/processor.h"
#include "plugin/served_target.h"
#include "plugin/utf8_text.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

namespace {

// UTF-8 into a fixed field, cut at a character's start so that the field
// never ends in half a character.
void copyUtf8 (char8* field, size_t size, const std::string& text)
{
	size_t n = std::min (text.size (), size - 1);
	while (n > 0 && n < text.size () && (static_cast<unsigned char> (text[n]) & 0xC0) == 0x80)
		--n;
	std::memset (field, 0, size);
	std::memcpy (field, text.data (), n);
}

PClassInfo2 classInfo2 (const Tandem::ServedClass& c, const FUID& cid)
{
	PClassInfo2 info {};
	std::memcpy (info.cid, cid.toTUID (), sizeof (TUID));
	info.cardinality = c.cardinality;
	copyUtf8 (info.category, sizeof info.category, c.category);
	copyUtf8 (info.name, sizeof info.name, c.name);
	info.classFlags = c.classFlags;
	copyUtf8 (info.subCategories, sizeof info.subCategories, c.subCategories);
	copyUtf8 (info.vendor, sizeof info.vendor, c.vendor);
	copyUtf8 (info.version, sizeof info.version, c.version);
	copyUtf8 (info.sdkVersion, sizeof info.sdkVersion, c.sdkVersion);
	return info;
}

PClassInfoW classInfoW (const Tandem::ServedClass& c, const FUID& cid)
{
	PClassInfoW info {};
	std::memcpy (info.cid, cid.toTUID (), sizeof (TUID));
	info.cardinality = c.cardinality;
	copyUtf8 (info.category, sizeof info.category, c.category);
	copyUtf16 (info.name, PClassInfo::kNameSize, c.name);
	info.classFlags = c.classFlags;
	copyUtf8 (info.subCategories, sizeof info.subCategories, c.subCategories);
	copyUtf16 (info.vendor, PClassInfo2::kVendorSize, c.vendor);
	copyUtf16 (info.version, PClassInfo2::kVersionSize, c.version);
	copyUtf16 (info.sdkVersion, PClassInfo2::kVersionSize, c.sdkVersion);
	return info;
}

FUnknown* createServedProcessor (void* context)
{
	return QuillMarlowProcessor::createServed (*static_cast<const ServedTarget*> (context));
}

class ServedFactory : public CPluginFactory
{
public:
	ServedFactory (const PFactoryInfo& info, const Tandem::ServedRecord& record) : CPluginFactory (info)
	{
		// An audio class whose component names no controller of its own (one
		// object that is both) gets ours: the bridge's controller is a class
		// apart in any case.
		bool ownController = false;
		std::vector<std::string> controllers;
		std::vector<std::string> named;
		for (const Tandem::ServedClass& c : record.classes)
		{
			const bool audio = c.category == Tandem::kAudioModuleClass;
			if (!audio && c.category != Tandem::kComponentControllerClass)
				continue;
			const FUID cid = servedClassId (c.cid);
			if (audio)
			{
				auto target = std::make_unique<ServedTarget> ();
				target->prefix = record.prefix;
				target->module = record.module;
				target->windowsModule = record.windowsModule;
				target->group = record.group;
				target->classId = c.cid;
				target->controller = c.controller.empty () ? kControllerUID : servedClassId (c.controller);
				target->buses = c.buses;
				target->sample64 = c.sample64;
				ownController = ownController || c.controller.empty ();
				if (!c.controller.empty ())
					named.push_back (c.controller);
				add (c, cid, createServedProcessor, target.get ());
				targets_.push_back (std::move (target));
			}
			else
			{
				controllers.push_back (c.cid);
				add (c, cid, QuillMarlowController::createInstance, nullptr);
			}
		}
		// A component may name a controller its factory does not list: the
		// host creates it from us all the same.
		for (const std::string& cid : named)
		{
			if (std::find (controllers.begin (), controllers.end (), cid) != controllers.end ())
				continue;
			Tandem::ServedClass c;
			c.cid = cid;
			c.category = Tandem::kComponentControllerClass;
			c.name = "Controller";
			c.vendor = record.factory.vendor;
			add (c, servedClassId (cid), QuillMarlowController::createInstance, nullptr);
			controllers.push_back (cid);
		}
		if (ownController)
		{
			Tandem::ServedClass c;
			c.category = Tandem::kComponentControllerClass;
			c.name = "Quill Marlow Controller";
			c.vendor = record.factory.vendor;
			add (c, kControllerUID, QuillMarlowController::createInstance, nullptr);
		}
	}

	tresult PLUGIN_API getClassInfoUnicode (int32 index, PClassInfoW* info) SMTG_OVERRIDE
	{
		if (!info || index < 0 || index >= static_cast<int32> (unicode_.size ()))
			return kInvalidArgument;
		*info = unicode_[static_cast<size_t> (index)];
		return kResultOk;
	}

private:
	void add (const Tandem::ServedClass& c, const FUID& cid, FUnknown* (*create) (void*), void* context)
	{
		const PClassInfo2 info = classInfo2 (c, cid);
		registerClass (&info, create, context);
		unicode_.push_back (classInfoW (c, cid));
	}

	std::vector<PClassInfoW> unicode_;
	std::vector<std::unique_ptr<ServedTarget>> targets_;
};

} // namespace

FUID servedClassId (const std::string& cid)
{
	uint32 words[4] {};
	Tandem::classIdWords (cid, words);
	return FUID (words[0], words[1], words[2], words[3]);
}

CPluginFactory* makeServedFactory (const Tandem::ServedRecord& record)
{
	PFactoryInfo info {};
	copyUtf8 (info.vendor, sizeof info.vendor, record.factory.vendor);
	copyUtf8 (info.url, sizeof info.url, record.factory.url);
	copyUtf8 (info.email, sizeof info.email, record.factory.email);
	info.flags = record.factory.flags | PFactoryInfo::kUnicode;
	return new ServedFactory (info, record);
}

} // namespace QuillMarlow
} // namespace Steinberg
