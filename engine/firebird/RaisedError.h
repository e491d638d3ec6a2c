#pragma once

#include <exception>

#include "engine/run/StepResult.h"

// The result of a routine stopped by `error`: the server's error classified
// by its code, any other (a file error) by its text.
StepResult RaisedError(const std::exception& error);
