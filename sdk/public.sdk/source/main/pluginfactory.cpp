#include "public.sdk/source/main/pluginfactory.h"

#include "pluginterfaces/base/ustring.h"

#include <cstring>

Steinberg::CPluginFactory* gPluginFactory = nullptr;

namespace Steinberg {

CPluginFactory::CPluginFactory (const PFactoryInfo& info) : factoryInfo (info) {}

CPluginFactory::~CPluginFactory ()
{
	if (gPluginFactory == this)
		gPluginFactory = nullptr;
}

bool CPluginFactory::registerClass (const PClassInfo* info, CreateFunc createFunc, void* context)
{
	if (!info || !createFunc)
		return false;
	PClassInfo2 info2;
	memcpy (info2.cid, info->cid, sizeof (TUID));
	info2.cardinality = info->cardinality;
	strncpy (info2.category, info->category, PClassInfo::kCategorySize);
	strncpy (info2.name, info->name, PClassInfo::kNameSize);
	return registerClass (&info2, createFunc, context);
}

bool CPluginFactory::registerClass (const PClassInfo2* info, CreateFunc createFunc, void* context)
{
	if (!info || !createFunc)
		return false;
	classes.push_back ({*info, createFunc, context});
	return true;
}

bool CPluginFactory::isClassRegistered (const FUID& cid)
{
	for (const auto& entry : classes)
		if (FUID::fromTUID (entry.info.cid) == cid)
			return true;
	return false;
}

tresult PLUGIN_API CPluginFactory::queryInterface (const TUID iid, void** obj)
{
	if (FUnknownPrivate::iidEqual (iid, IPluginFactory3::iid) ||
	    FUnknownPrivate::iidEqual (iid, IPluginFactory2::iid) ||
	    FUnknownPrivate::iidEqual (iid, IPluginFactory::iid) ||
	    FUnknownPrivate::iidEqual (iid, FUnknown::iid))
	{
		addRef ();
		*obj = static_cast<IPluginFactory3*> (this);
		return kResultOk;
	}
	*obj = nullptr;
	return kNoInterface;
}

uint32 PLUGIN_API CPluginFactory::addRef ()
{
	return refCount.fetch_add (1) + 1;
}

uint32 PLUGIN_API CPluginFactory::release ()
{
	const uint32 remaining = refCount.fetch_sub (1) - 1;
	if (remaining == 0)
		delete this;
	return remaining;
}

tresult PLUGIN_API CPluginFactory::getFactoryInfo (PFactoryInfo* info)
{
	if (!info)
		return kInvalidArgument;
	memcpy (info, &factoryInfo, sizeof (PFactoryInfo));
	return kResultOk;
}

int32 PLUGIN_API CPluginFactory::countClasses ()
{
	return static_cast<int32> (classes.size ());
}

tresult PLUGIN_API CPluginFactory::getClassInfo (int32 index, PClassInfo* info)
{
	if (!info || index < 0 || index >= countClasses ())
		return kInvalidArgument;
	const PClassInfo2& src = classes[index].info;
	memset (info, 0, sizeof (PClassInfo));
	memcpy (info->cid, src.cid, sizeof (TUID));
	info->cardinality = src.cardinality;
	strncpy (info->category, src.category, PClassInfo::kCategorySize - 1);
	strncpy (info->name, src.name, PClassInfo::kNameSize - 1);
	return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfo2 (int32 index, PClassInfo2* info)
{
	if (!info || index < 0 || index >= countClasses ())
		return kInvalidArgument;
	memcpy (info, &classes[index].info, sizeof (PClassInfo2));
	return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfoUnicode (int32 index, PClassInfoW* info)
{
	if (!info || index < 0 || index >= countClasses ())
		return kInvalidArgument;
	const PClassInfo2& src = classes[index].info;
	memset (info, 0, sizeof (PClassInfoW));
	memcpy (info->cid, src.cid, sizeof (TUID));
	info->cardinality = src.cardinality;
	info->classFlags = src.classFlags;
	strncpy (info->category, src.category, PClassInfo::kCategorySize - 1);
	strncpy (info->subCategories, src.subCategories, PClassInfo2::kSubCategoriesSize - 1);
	UString (info->name, PClassInfo::kNameSize).fromAscii (src.name);
	UString (info->vendor, PClassInfo2::kVendorSize).fromAscii (src.vendor);
	UString (info->version, PClassInfo2::kVersionSize).fromAscii (src.version);
	UString (info->sdkVersion, PClassInfo2::kVersionSize).fromAscii (src.sdkVersion);
	return kResultOk;
}

tresult PLUGIN_API CPluginFactory::createInstance (FIDString cid, FIDString iid, void** obj)
{
	if (!obj)
		return kInvalidArgument;
	*obj = nullptr;
	if (!cid || !iid)
		return kInvalidArgument;
	for (const auto& entry : classes)
	{
		if (memcmp (entry.info.cid, cid, sizeof (TUID)) != 0)
			continue;
		FUnknown* instance = entry.createFunc (entry.context);
		if (!instance)
			break;
		TUID wanted;
		memcpy (wanted, iid, sizeof (TUID));
		const tresult result = instance->queryInterface (wanted, obj);
		instance->release ();
		if (result == kResultOk)
			return kResultOk;
		*obj = nullptr;
		break;
	}
	return kNoInterface;
}

tresult PLUGIN_API CPluginFactory::setHostContext (FUnknown*)
{
	return kNotImplemented;
}

} // namespace Steinberg
