#include "quill_look_ahead.h"

#include <cmath>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

QuillLookAhead::~QuillLookAhead() {
    if (handler_) handler_->release();
}

uint32 PLUGIN_API QuillLookAhead::getLatencySamples() {
    return static_cast<uint32>(std::lround(currentParams().tone * kLookAheadRange));
}

tresult PLUGIN_API QuillLookAhead::setState(IBStream* state) {
    const uint32 before = getLatencySamples();
    const tresult result = QuillSingle::setState(state);
    if (result == kResultOk && getLatencySamples() != before && handler_) handler_->restartComponent(kLatencyChanged);
    return result;
}

tresult PLUGIN_API QuillLookAhead::setComponentHandler(IComponentHandler* handler) {
    if (handler) handler->addRef();
    if (handler_) handler_->release();
    handler_ = handler;
    return QuillSingle::setComponentHandler(handler);
}

}  // namespace Quill
