// GenericEditor: the editor outpost draws for a served plug-in whose
// controller has no view of its own. One row per parameter: its name, a
// slider and its value as the plug-in prints it, with its units. Hidden
// parameters are left out, read-only ones are shown disabled. It is an
// IPlugView like any plug-in's editor, so outpost sizes, shows and embeds it
// the same way; its edits go to the controller (setParamNormalized) and to
// the processor through outpost's component handler, as a plug-in editor's
// edits do. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "sdk/ref_counted.h"
#include "win32.h"

namespace Tandem {

class GenericEditor : public RefCounted<Steinberg::IPlugView>
{
public:
	static constexpr int kWidth = 480;
	static constexpr int kRowHeight = 36;
	static constexpr int kMargin = 12;
	static constexpr int kNameWidth = 140;
	static constexpr int kValueWidth = 110;

	// Reads the controller's parameters; takes a reference on both objects.
	GenericEditor (Steinberg::Vst::IEditController* controller, Steinberg::Vst::IComponentHandler* handler);

	Steinberg::tresult PLUGIN_API isPlatformTypeSupported (Steinberg::FIDString type) override;
	Steinberg::tresult PLUGIN_API attached (void* parent, Steinberg::FIDString type) override;
	Steinberg::tresult PLUGIN_API removed () override;
	Steinberg::tresult PLUGIN_API onWheel (float) override { return Steinberg::kResultFalse; }
	Steinberg::tresult PLUGIN_API onKeyDown (Steinberg::char16, Steinberg::int16, Steinberg::int16) override
	{
		return Steinberg::kResultFalse;
	}
	Steinberg::tresult PLUGIN_API onKeyUp (Steinberg::char16, Steinberg::int16, Steinberg::int16) override
	{
		return Steinberg::kResultFalse;
	}
	Steinberg::tresult PLUGIN_API getSize (Steinberg::ViewRect* size) override;
	Steinberg::tresult PLUGIN_API onSize (Steinberg::ViewRect* newSize) override;
	Steinberg::tresult PLUGIN_API onFocus (Steinberg::TBool) override { return Steinberg::kResultOk; }
	Steinberg::tresult PLUGIN_API setFrame (Steinberg::IPlugFrame*) override { return Steinberg::kResultOk; }
	Steinberg::tresult PLUGIN_API canResize () override { return Steinberg::kResultFalse; }
	Steinberg::tresult PLUGIN_API checkSizeConstraint (Steinberg::ViewRect* rect) override;

	std::size_t rowCount () const { return rows_.size (); }
	// The slider of row `row`, in the editor's client coordinates.
	static RECT sliderRect (int row);

private:
	struct Row
	{
		Steinberg::Vst::ParamID id;
		std::wstring title;
		std::wstring units;
		Steinberg::int32 stepCount;
		bool readOnly;
		double shown; // the value last painted
	};

	virtual ~GenericEditor ();
	static LRESULT CALLBACK windowProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
	void paint (HDC dc);
	int rowAt (int x, int y) const;
	void setFromPointer (int row, int x);
	void refreshValues ();
	std::wstring valueText (const Row& row, double value) const;

	Steinberg::Vst::IEditController* controller_;
	Steinberg::Vst::IComponentHandler* handler_;
	std::vector<Row> rows_;
	Steinberg::ViewRect rect_;
	HWND hwnd_ = nullptr;
	int dragRow_ = -1;
};

} // namespace Tandem
