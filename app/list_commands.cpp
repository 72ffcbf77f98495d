#include "list_commands.h"

#include "main_window.h"
#include "panorama_id.h"
#include "paths.h"
#include "platform.h"

namespace vantaro {

namespace {
// The text to import: the clipboard's when the user agrees, otherwise what they type.
std::string AskForInput() {
    const std::string clipboard = ClipboardText();
    if (!clipboard.empty() && AskYesNo("Use clipboard?", "Do you want to import URLs from clipboard?"))
        return std::string(TrimSpaces(clipboard));
    return AskText("Enter Panorama ID", "Copy and paste street view URL containing 'panoid':");
}
} // namespace

void AddPanoramas() {
    const std::string input = AskForInput();
    if (input.empty())
        return;
    for (const std::string_view piece : SplitPieces(input)) {
        const std::string_view line = TrimSpaces(piece);
        if (line.empty())
            continue;
        const ExtractResult result = ExtractPanoramaId(line);
        if (result.failure != ExtractFailure::None) {
            ShowMessage("Error", ExtractErrorText(result));
            return;
        }
        AddListItem(result.text);
        SelectOnlyItem(ListItemCount() - 1);
    }
}

void DeleteSelectedPanoramas() {
    for (int index = FirstSelectedItem(); index != -1; index = FirstSelectedItem())
        RemoveListItem(index);
}

void BrowseOutputFolder() {
    const std::string folder = ChooseFolder("Browse...", ChooserStartFolder(OutputFolderText()));
    if (!folder.empty())
        SetOutputFolderText(folder);
}

} // namespace vantaro
