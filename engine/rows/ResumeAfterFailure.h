#pragma once

#include <functional>

#include "engine/firebird/TConnection.h"

// Gives back what a pause took when the pause ends without its Resume (the
// work it served failed): whatever that work left uncommitted on `target` is
// rolled back first. A failure here is swallowed: the run is already leaving
// with the failure it reports, and the database it worked on does not become
// the operator's.
void ResumeAfterFailure(TConnection& target, const std::function<void()>& resume) noexcept;
