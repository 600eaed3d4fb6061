#pragma once
// The raw-recovery page without windows: which file types the user ticked,
// the checks and activity-report lines of its OK button, and the table the
// carver will search with.
#include <functional>
#include <string>
#include <string_view>

#include "common/error.h"
#include "logs/log_file.h"
#include "raw/signature_table.h"

namespace dravolin {

inline constexpr const char* kSelectExtensionsMessage = "Please select extensions to start.";
inline constexpr const char* kSpecifySavingPathMessage = "Please specify destination/saving path.";

// Ticks from a comma-separated list of type names (any case) or "all".
// An unknown name is refused with a message that lists the known ones.
[[nodiscard]] Result<ExtensionTicks> parseExtensionList(std::string_view list);

// The table's types and the modern ones, as the command line names them.
struct TypeSelection {
  ExtensionTicks classic{};
  ModernTicks modern{};
  bool operator==(const TypeSelection&) const = default;
};

// A comma-separated list of type names and common extensions (jpg, tiff,
// htm, gzip...) in any case, "all" (the table's types) and "modern" (the
// modern ones). An unknown name is refused with a message that lists the
// known ones.
[[nodiscard]] Result<TypeSelection> parseTypeList(std::string_view list);

struct RawPageChoice {
  SignatureTable table;
  std::string savingPath;
  // Files end where their format says (false: whole sectors by the table's
  // sector rules, as asked with --whole-sectors).
  bool exactEnds = true;
};

// OK of the page: writes "Step 2 (b) :" with the ticked names to the
// activity report and builds the table; refuses an empty selection ("Please
// select extensions to start."); then runs the saving-path dialog and
// refuses an empty path ("Please specify destination/saving path."), else
// logs the path.
[[nodiscard]] Result<RawPageChoice> commitRawExtensionPage(const ExtensionTicks& ticks, LogFile& activityLog,
                                                                 const std::function<std::string()>& savingPathDialog,
                                                                 const ModernTicks& modern = {});

}  // namespace dravolin
