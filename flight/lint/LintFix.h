#pragma once
/// Fixes of lint findings: a finding's `fix` (flight/lint/Lint.h) made through the scene editor,
/// so that each is one undo step and all or nothing, and the loop that fixes what it can.

#include <cstddef>
#include <functional>
#include <vector>

#include "flight/lint/Lint.h"

namespace host {

class Host;
class SceneEditor;

/// Applies `fix` as one change of `editor`, one undo step named by its label. Throws InputError
/// (the scene unchanged) when an object it names is gone or refuses a value.
void applyLintFix(SceneEditor& editor, Host& host, const LintFix& fix);

/// The same changes without a step of their own, for a caller's `SceneEditor::group`.
void applyLintFixChanges(SceneEditor& editor, Host& host, const LintFix& fix);

/// The most fixes one run tries: each may make or clear other findings, so the run stops here
/// rather than chase them for ever.
constexpr std::size_t kMaxLintFixes = 200;

/// What a run of fixes did.
struct LintFixRun {
    std::vector<LintFinding> fixed;      ///< the findings fixed, in order, as found before their fix
    std::vector<LintFinding> remaining;  ///< the scene's findings at the end
};

/// Fixes findings one at a time: lints (`lint`), applies the first fix not tried yet, and lints
/// again (a fix renumbers waypoints and may make or clear other findings), until no finding has
/// an untried fix or kMaxLintFixes were tried. A fix whose finding is still there afterwards
/// counts as tried; `ownSteps`: each fix is its own undo step and such a fix is undone again,
/// otherwise the changes join the caller's group.
LintFixRun fixLintFindings(SceneEditor& editor, Host& host, const std::function<std::vector<LintFinding>()>& lint,
                           bool ownSteps);

}  // namespace host
