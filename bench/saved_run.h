#pragma once

// A run saved by formatJson, read back: the figures as they were measured, so that the table
// made from the saved file is the table the run printed.

#include "stats.h"

#include <optional>
#include <string>
#include <vector>

namespace kt::bench
{

struct SavedRun {
    RunInfo run;
    std::vector<Figure> figures;
};

// nullopt, with why in error, when the text is not a run that formatJson wrote.
std::optional<SavedRun> parseSavedRun(const std::string &json, std::string &error);

} // namespace kt::bench
