// Reading what outpost published in the parameter region: the list under
// its sequence and one value under its entry's. Both halves of that
// exchange are in protocol/parameter_list.h; the Linux controller uses its
// readers under these names.
#pragma once

#include "protocol/parameter_list.h"

namespace Steinberg {
namespace QuillMarlow {

using Tandem::copyParameterList;
using Tandem::ListCopy;
using Tandem::readValueEntry;
using Tandem::ValueCopy;

} // namespace QuillMarlow
} // namespace Steinberg
