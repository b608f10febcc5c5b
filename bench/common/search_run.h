#pragma once
// Driving whole search runs through the main window's core, as the window's start button does.
#include <string>

#include "engine/main_form.h"

namespace qm::bench {

// An environment whose settings file lives at `programPath` and whose host address is fixed,
// so that no lookup of the machine's address weighs on the runs.
qm::TForm1Environment QuietEnvironment(const std::string& programPath);

// Starts a search with the form's present options and returns when that run has completed.
void RunSearchToEnd(qm::TForm1& form);

}  // namespace qm::bench
