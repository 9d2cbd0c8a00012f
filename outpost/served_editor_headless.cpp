// The served editor where there are no windows (native builds of the
// instance logic): nothing can be shown, and every request says so.
#include "served_editor.h"

namespace Tandem {

namespace {

class HeadlessEditor final : public ServedEditor
{
public:
	bool createWindow (bool) override { return false; }
	std::uint64_t x11WindowId () const override { return 0; }
	bool prepare () override { return false; }
	bool create () override { return false; }
	bool show () override { return false; }
	void hide () override {}
	bool hasWindow () const override { return false; }
	bool hasView () const override { return false; }
	bool resizable () const override { return false; }
	bool constrainSize (std::int32_t&, std::int32_t&) override { return false; }
	bool resize (std::int32_t&, std::int32_t&) override { return false; }
	bool setContentScale (float) override { return false; }
	std::int32_t width () const override { return 800; }
	std::int32_t height () const override { return 600; }
};

} // namespace

std::unique_ptr<ServedEditor> ServedEditor::create (Steinberg::Vst::IEditController*, Steinberg::Vst::IComponent*,
                                                    ComponentHandler*)
{
	return std::make_unique<HeadlessEditor> ();
}

} // namespace Tandem
