// A processor of the bundle's code, as the end-to-end tests and the bench
// host it: its outpost serves another bundle (one of Quill's test
// variants), one class of it when given the class id (as a made bundle
// names it), or its launch is pointed at another program altogether.
#pragma once

#include "plugin/processor.h"

#include <string>

class ServedProcessor : public Steinberg::QuillMarlow::QuillMarlowProcessor
{
public:
	explicit ServedProcessor (std::string bundle, std::string outpost = OUTPOST_EXE, std::string classId = {})
	: bundle_ (std::move (bundle)), outpost_ (std::move (outpost)), classId_ (std::move (classId))
	{
	}
	using QuillMarlowProcessor::audioOkCount;
	using QuillMarlowProcessor::outpostPid;
	using QuillMarlowProcessor::sharedMemory;

protected:
	void adjustOutpostConfig (Tandem::OutpostConfig& config) override
	{
		config.hostPath = outpost_;
		config.vst3Path = bundle_;
		if (!classId_.empty ())
		{
			config.modulePath = bundle_;
			config.classId = classId_;
		}
	}

private:
	std::string bundle_, outpost_, classId_;
};
