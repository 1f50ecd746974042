#include "gui/visualisation/GenericVisualiser.h"

namespace ombrel
{
template class GenericVisualiser<float>;
} // namespace ombrel
