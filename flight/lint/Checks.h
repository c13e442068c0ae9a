#pragma once
/// The linter's checks as one table: each row's ids, severity, what it finds, its threshold and
/// how to fix what it finds.
/// The README's lint table and `camsys lint --help` are rendered from it, and the order in which
/// findings of one object are listed is kept beside it, so the three cannot drift apart.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace host {

/// How much a finding matters: info never fails a lint, warning and error do.
enum class LintSeverity { Info, Warning, Error };

/// "info", "warning" or "error".
const char* severityWord(LintSeverity severity);

/// One row of the table. Checks that share a severity and a reason share a row.
struct LintCheck {
    std::vector<std::string_view> ids;  ///< kebab-case, stable across versions
    LintSeverity severity = LintSeverity::Warning;
    std::string_view finds;      ///< markdown: `code`, \| for a bar
    std::string_view threshold;  ///< markdown; empty where a check has none
    std::string_view hint;       ///< markdown, one line: how a designer fixes a finding
};

/// The rows, in the README's order.
const std::vector<LintCheck>& lintChecks();

/// The hint of the row of check `id` as plain text; empty for an id not in the table.
std::string lintHint(std::string_view id);

/// Every check id in the order findings of one object are listed (see `lintScene`).
std::span<const std::string_view> lintCheckOrder();

/// The table as the README shows it: header, separator and one line per row.
std::string lintCheckTableMarkdown();

/// The table as plain text for a terminal (a help footer): "Checks:", then per row
/// "  ids (severity): finds. Threshold: ... Hint: ...", wrapped at 100 columns.
std::string lintCheckTableText();

}  // namespace host
