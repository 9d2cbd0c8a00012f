#include "plugin/controller.h"

namespace Steinberg {
namespace QuillMarlow {

FUnknown* QuillMarlowController::createInstance (void*)
{
	return static_cast<Vst::IEditController*> (new QuillMarlowController ());
}

tresult PLUGIN_API QuillMarlowController::initialize (FUnknown* context)
{
	return EditController::initialize (context);
}

tresult PLUGIN_API QuillMarlowController::terminate ()
{
	return EditController::terminate ();
}

IPlugView* PLUGIN_API QuillMarlowController::createView (FIDString)
{
	return nullptr;
}

} // namespace QuillMarlow
} // namespace Steinberg
