// Stand-in for the VST 3 SDK's CPluginFactory, for SDK subsets that lack it:
// a factory that holds registered class descriptions and their create
// functions, answers IPluginFactory3 queries and forgets itself as the
// process-wide factory when its last reference goes.
#pragma once

#include "pluginterfaces/base/ipluginbase.h"

#include <atomic>
#include <vector>

namespace Steinberg {

class CPluginFactory : public IPluginFactory3
{
public:
	using CreateFunc = FUnknown* (*) (void* context);

	explicit CPluginFactory (const PFactoryInfo& info);
	virtual ~CPluginFactory ();

	bool registerClass (const PClassInfo* info, CreateFunc createFunc, void* context = nullptr);
	bool registerClass (const PClassInfo2* info, CreateFunc createFunc, void* context = nullptr);
	bool isClassRegistered (const FUID& cid);
	void removeAllClasses () { classes.clear (); }

	// FUnknown
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) SMTG_OVERRIDE;
	uint32 PLUGIN_API addRef () SMTG_OVERRIDE;
	uint32 PLUGIN_API release () SMTG_OVERRIDE;

	// IPluginFactory
	tresult PLUGIN_API getFactoryInfo (PFactoryInfo* info) SMTG_OVERRIDE;
	int32 PLUGIN_API countClasses () SMTG_OVERRIDE;
	tresult PLUGIN_API getClassInfo (int32 index, PClassInfo* info) SMTG_OVERRIDE;
	tresult PLUGIN_API createInstance (FIDString cid, FIDString iid, void** obj) SMTG_OVERRIDE;

	// IPluginFactory2
	tresult PLUGIN_API getClassInfo2 (int32 index, PClassInfo2* info) SMTG_OVERRIDE;

	// IPluginFactory3
	tresult PLUGIN_API getClassInfoUnicode (int32 index, PClassInfoW* info) SMTG_OVERRIDE;
	tresult PLUGIN_API setHostContext (FUnknown* context) SMTG_OVERRIDE;

protected:
	struct ClassEntry
	{
		PClassInfo2 info;
		CreateFunc createFunc;
		void* context;
	};

	std::atomic<uint32> refCount {1};
	PFactoryInfo factoryInfo;
	std::vector<ClassEntry> classes;
};

} // namespace Steinberg

extern Steinberg::CPluginFactory* gPluginFactory;
