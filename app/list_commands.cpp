#include "list_commands.h"

namespace vantaro {

void AddPanoramas() { }

void DeleteSelectedPanoramas() { }

void BrowseOutputFolder() { }

} // namespace vantaro
