#pragma once
// The fixed English texts of the wizard's message and question boxes, kept
// in one place so that every front end shows the same words. Texts built
// from pieces are joined with "\r\n" as the wizard builds them.
#include <string>

namespace dravolin::msg {

// Step 1
inline constexpr const char* kSelectHardDisk = "Select Hard Disk";
inline constexpr const char* kImagePathNotFound = "Image path not found. Please specify image path.";
inline constexpr const char* kSelectImageFolderTitle = "Select Folder of Image File";

// Step 2 and Step 2 (a): the refusals come from app/wizard_steps and partition/.
inline constexpr const char* kExhaustiveQuestion =
    "Switching to Exhaustive Search for Lost files & folders. This will take long time.\r\n"
    "Are you sure you want to start this process";

// Step 3
inline constexpr const char* kStopQuestion = "Are you sure you want to stop this process";
inline constexpr const char* kBackToStep2Question = "Are you sure you want to go back to Step 2";
inline constexpr const char* kExitDravolinQuestion = "Are you sure you want to exit from Dravolin";
inline constexpr const char* kExitQuestion = "Are you sure you want to exit";

// Step 4
inline constexpr const char* kExhaustiveHint =
    "If you are unable to find the deleted/lost file's && folder's\r\n"
    " in the directory tree.\r\n"
    "Please choose 'Exhaustive Search' under options menu.";
inline constexpr const char* kFillingTree = "Adding Directories / Files information. Please wait...";
inline constexpr const char* kCurrentFolder = "Current Folder : ";
inline constexpr const char* kSelectingFiles = "      Please Wait - Selecting Files/Folders ";
inline constexpr const char* kUnselectingFiles = "      Please Wait - UnSelecting Files/Folders ";

// Saving
inline constexpr const char* kSavingNote = "Note : It is advisable to Save Data on a Drive other then the Source.";
inline constexpr const char* kCalculatingSize = "Calculating File Size. Please Wait...";
inline constexpr const char* kTerminateQuestion = "Do you want to terminate this process";

// Name search
inline constexpr const char* kStopSearchingQuestion = "Are you sure you want to stop searching ?";

// Bad sectors
inline constexpr const char* kBadSectorsTitle = "Bad Sectors Encountered";
inline constexpr const char* kBadSectorsText = "Encountered Bad Sector(s) while reading disk.";

}  // namespace dravolin::msg
