#include "grab_run.h"

namespace vantaro {

void RunGrab() { }

} // namespace vantaro
